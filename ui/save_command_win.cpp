// The editor's save command, its window half: the editor's text goes into the
// document, the vault pipeline (vault/save.h) keeps a backup and writes the vault,
// and the user is told; the focus, the selection, the title and the inactivity timer
// come out as they went in, or as the save leaves them.

#include <ctime>
#include <new>
#include <string>

#include "db/database.h"
#include "resource.h"
#include "ui/editor_window.h"
#include "ui/error_texts.h"
#include "ui/text.h"
#include "vault/save.h"

namespace {

// Stores the editor's text and writes the vault as `kind` asks.
vault::SaveReport write_editor_document(SaveKind kind, const SecretString* password)
{
    Database* db = g_editor.database;
    if (!db) {
        vault::SaveReport report;
        report.status = DB_NO_DATA;
        report.error = kNoDatabaseOpen;
        return report;
    }
    store_editor_text();
    const long long now = static_cast<long long>(std::time(nullptr));
    if (kind == SaveKind::kDocument) return vault::save_document(*db, g_tree_root, kDatabaseFileName, now);
    // The password change and the upgrade write the document as it stands too.
    vault::SaveReport report;
    report.status = vault::store_document(*db, g_tree_root, report.error);
    if (report.status != DB_OK) return report;
    if (kind == SaveKind::kUpgrade) return vault::upgrade(*db, kDatabaseFileName, nullptr, 0, now);
    return vault::change_password(*db, kDatabaseFileName, password ? password->data() : "",
                                  password ? static_cast<std::uint32_t>(password->size()) : 0, now);
}

// The title without the mark of unsaved changes, once they are saved.
void mark_saved() noexcept
{
    g_editor.changed = false;
    try {
        set_window_text(g_editor.main_window, kProductName);
    } catch (...) {
        // The title keeps its mark; the flag is what counts.
    }
}

}  // namespace

bool save_database_quietly() noexcept
{
    if (!g_editor.changed) return true;
    try {
        if (write_editor_document(SaveKind::kDocument, nullptr).status != DB_OK) return false;
    } catch (...) {
        return false;
    }
    mark_saved();
    return true;
}

void save_database() noexcept
{
    if (!g_editor.changed) return;
    save_document();
}

bool save_document(SaveKind kind, const SecretString* password) noexcept
{
    const HWND editor_box = g_editor.editor_box;
    const bool had_focus = editor_box && GetFocus() == editor_box;
    DWORD selection_start = 0;
    DWORD selection_end = 0;
    SendMessageW(editor_box, EM_GETSEL, reinterpret_cast<WPARAM>(&selection_start),
                 reinterpret_cast<LPARAM>(&selection_end));
    vault::SaveReport report;
    const char* failure_text = nullptr;
    try {
        report = write_editor_document(kind, password);
    } catch (const std::bad_alloc&) {
        report.status = DB_IO_ERROR;
        failure_text = kSaveOutOfMemory;
    } catch (...) {
        report.status = DB_IO_ERROR;
        failure_text = kSaveUnexpected;
    }
    try {
        if (report.status != DB_OK) {
            MessageBeep(MB_ICONWARNING);
            if (failure_text || report.error.empty())
                editor_show_message(kErrorSavingData, failure_text ? failure_text : kSaveUnexpectedFailure);
            else
                editor_show_message(kErrorSavingData, report.error);
        } else {
            MessageBeep(MB_ICONINFORMATION);
            std::string text = "All data has been encrypted and was saved.";
            const std::string note = vault::no_backup_note(report);
            if (!note.empty()) text += "\r\n" + note;
            editor_show_message("Data successfully saved", text);
        }
    } catch (...) {
        // The message could not be built; the state below still tells the truth.
    }
    if (had_focus && IsWindow(editor_box)) {
        SetFocus(editor_box);
        SendMessageW(editor_box, EM_SETSEL, selection_start, static_cast<LPARAM>(selection_end));
    }
    if (report.status == DB_OK) mark_saved();
    if (g_editor.main_window)
        SetTimer(g_editor.main_window, IDT_INACTIVITY, g_editor.options.inactivity_interval, nullptr);
    return report.status == DB_OK;
}
