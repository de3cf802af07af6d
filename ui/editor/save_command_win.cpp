// The editor's save command, its window half: the editor's text goes into the
// document, what another program wrote meanwhile is merged into it, the vault's
// session writes it through the save pipeline (vault/save.h: a backup, then the
// vault), and the user is told; the focus, the selection, the title and the
// inactivity timer come out as they went in, or as the save leaves them.

#include <new>
#include <string>

#include "crypto/wipe.h"
#include "db/database.h"
#include "platform/calendar_time.h"
#include "resource.h"
#include "ui/changed_elsewhere/changed_elsewhere.h"
#include "ui/editor/csv_commands.h"
#include "ui/editor/editor_state.h"
#include "ui/common/error_texts.h"
#include "ui/common/text.h"
#include "vault/save.h"
#include "vault/session.h"

namespace {

// write_editor_document's status when the vault changed elsewhere and was not
// written: the user has been told already (no status code is negative).
constexpr int kNotWrittenChangedElsewhere = -1;

// What the fold merged, for the message; the names it kept twice are wiped with it.
struct MergeNote {
    vault::SessionReport report;
    MergeNote() = default;
    ~MergeNote()
    {
        for (std::string& name : report.kept_twice)
            if (!name.empty()) secure_wipe(&name[0], name.size());
    }
    MergeNote(const MergeNote&) = delete;
    MergeNote& operator=(const MergeNote&) = delete;
};

// Stores the editor's text, folds in what another program wrote meanwhile (asking
// only when `can_ask`; what it merged lands in `merge`), and writes the vault as
// `kind` asks.
vault::SaveReport write_editor_document(SaveKind kind, const SecretString* password, bool can_ask,
                                        vault::SessionReport& merge)
{
    vault::SaveReport report;
    vault::Session* session = g_editor.session;
    if (!g_editor.database || !session) {
        report.status = DB_NO_DATA;
        report.error = kNoDatabaseOpen;
        return report;
    }
    store_editor_text();
    if (!fold_in_changes_elsewhere(can_ask, &merge)) {
        report.status = kNotWrittenChangedElsewhere;
        return report;
    }
    const long long now = calendar_now();
    if (kind == SaveKind::kDocument) return session->write(g_tree_root, now);
    // The password change and the upgrade write the document as it stands too.
    if (kind == SaveKind::kUpgrade) return session->write_upgraded(password, g_tree_root, now);
    if (password) return session->write_rekeyed(*password, g_tree_root, now);
    return session->write_rekeyed(SecretString(), g_tree_root, now);
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
        MergeNote merge;
        if (write_editor_document(SaveKind::kDocument, nullptr, false, merge.report).status != DB_OK) return false;
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
    MergeNote merge;
    const char* failure_text = nullptr;
    try {
        report = write_editor_document(kind, password, true, merge.report);
    } catch (const std::bad_alloc&) {
        report.status = DB_IO_ERROR;
        failure_text = kSaveOutOfMemory;
    } catch (...) {
        report.status = DB_IO_ERROR;
        failure_text = kSaveUnexpected;
    }
    try {
        if (report.status == kNotWrittenChangedElsewhere) {
            // Told where the document went instead.
        } else if (report.status != DB_OK) {
            MessageBeep(MB_ICONWARNING);
            if (failure_text || report.error.empty())
                editor_show_message(kErrorSavingData, failure_text ? failure_text : kSaveUnexpectedFailure);
            else
                editor_show_message(kErrorSavingData, report.error);
        } else {
            MessageBeep(MB_ICONINFORMATION);
            std::string text = saved_text(merge.report);
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
    if (report.status == DB_OK) {
        mark_saved();
        offer_to_delete_merged_copies();
        offer_to_erase_imported_csv();
    }
    restart_inactivity_timer();
    return report.status == DB_OK;
}
