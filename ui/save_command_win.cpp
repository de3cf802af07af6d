// The editor's save command, its window half: the editor's text goes into the
// document, the portable half (db/save_document.h) keeps a backup and writes the
// vault, and the user is told; the focus, the selection, the title and the
// inactivity timer come out as they went in, or as the save leaves them.

#include <ctime>
#include <new>
#include <string>

#include "db/database.h"
#include "db/save_document.h"
#include "resource.h"
#include "ui/changed_elsewhere.h"
#include "ui/editor_window.h"
#include "ui/error_texts.h"
#include "ui/text.h"

namespace {

// write_editor_document's result when the vault changed elsewhere and was not
// written: the user has been told already (no status code is negative).
constexpr int kNotWrittenChangedElsewhere = -1;

// Stores the editor's text, folds in what another program wrote meanwhile, and
// writes the document. Returns the vault's status code; `error` receives the text to
// show when it is not DB_OK.
int write_editor_document(std::string& error, bool can_ask)
{
    Database* db = g_editor.database;
    if (!db) {
        error = kNoDatabaseOpen;
        return DB_NO_DATA;
    }
    store_editor_text();
    if (!fold_in_changes_elsewhere(can_ask)) return kNotWrittenChangedElsewhere;
    const int status = write_document(*db, g_tree_root, vault_path(), error);
    if (status == DB_OK) vault_written();
    return status;
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

void make_backup() noexcept
{
    keep_backup(vault_path(), static_cast<long long>(std::time(nullptr)));
}

bool save_database_quietly() noexcept
{
    if (!g_editor.changed) return true;
    make_backup();
    try {
        std::string error;
        if (write_editor_document(error, false) != DB_OK) return false;
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

bool save_document() noexcept
{
    make_backup();

    const HWND editor_box = g_editor.editor_box;
    const bool had_focus = editor_box && GetFocus() == editor_box;
    DWORD selection_start = 0;
    DWORD selection_end = 0;
    SendMessageW(editor_box, EM_GETSEL, reinterpret_cast<WPARAM>(&selection_start),
                 reinterpret_cast<LPARAM>(&selection_end));

    int status = DB_IO_ERROR;
    std::string error;
    const char* failure_text = nullptr;
    try {
        status = write_editor_document(error, true);
    } catch (const std::bad_alloc&) {
        status = DB_IO_ERROR;
        failure_text = kSaveOutOfMemory;
    } catch (...) {
        status = DB_IO_ERROR;
        failure_text = kSaveUnexpected;
    }

    try {
        if (status == kNotWrittenChangedElsewhere) {
            // Told where the document went instead.
        } else if (status != DB_OK) {
            MessageBeep(MB_ICONWARNING);
            if (failure_text || error.empty())
                editor_show_message(kErrorSavingData, failure_text ? failure_text : kSaveUnexpectedFailure);
            else
                editor_show_message(kErrorSavingData, error);
        } else {
            MessageBeep(MB_ICONINFORMATION);
            editor_show_message("Data successfully saved", saved_text());
        }
    } catch (...) {
        // The message could not be built; the state below still tells the truth.
    }

    if (had_focus && IsWindow(editor_box)) {
        SetFocus(editor_box);
        SendMessageW(editor_box, EM_SETSEL, selection_start, static_cast<LPARAM>(selection_end));
    }
    if (status == DB_OK) {
        mark_saved();
        offer_to_delete_merged_copies();
    }
    if (g_editor.main_window) SetTimer(g_editor.main_window, IDT_INACTIVITY, g_editor.inactivity_interval, nullptr);
    return status == DB_OK;
}
