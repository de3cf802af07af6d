// The editor's save command: keep a backup of the vault on disk, then write the
// whole document encrypted with fresh salt and nonce.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <new>
#include <string>

#include "crypto/wipe.h"
#include "db/backup.h"
#include "db/database.h"
#include "resource.h"
#include "ui/editor_window.h"
#include "ui/text.h"

namespace {

// Stores the editor's text, serializes the document and writes it. Returns the
// vault's status code; `error` receives the text to show when it is not DB_OK.
int write_document(std::string& error)
{
    Database* db = g_editor.database;
    if (!db) {
        error = "No database is open.";
        return DB_NO_DATA;
    }
    store_editor_text();
    const SecretString text(g_tree_root.serialize("\r\n", 0));
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        error = "The text is too large to be saved.";
        return DB_IO_ERROR;
    }
    db->set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
    const int status = db->save(kDatabaseFileName);
    if (status != DB_OK) {
        error = db->last_error();
        if (error.empty()) error = "The vault could not be written (code " + std::to_string(status) + ").";
    }
    return status;
}

}  // namespace

void make_backup() noexcept
{
    try {
        std::string backup_path;
        std::string error;
        make_backup_copy(kDatabaseFileName, static_cast<long long>(std::time(nullptr)), backup_path, error);
    } catch (...) {
    }
    // A backup that cannot be made does not stop the save: the vault itself is
    // only ever replaced whole.
}

bool save_database_quietly() noexcept
{
    if (!g_editor.changed) return true;
    make_backup();
    try {
        std::string error;
        if (write_document(error) != DB_OK) return false;
    } catch (...) {
        return false;
    }
    g_editor.changed = false;
    try {
        set_window_text(g_editor.main_window, kProductName);
    } catch (...) {
    }
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
        status = write_document(error);
    } catch (const std::bad_alloc&) {
        status = DB_IO_ERROR;
        failure_text = "Out of memory while preparing the data. Your text is still in the editor.";
    } catch (...) {
        status = DB_IO_ERROR;
        failure_text = "An unexpected error occurred while saving. Your text is still in the editor.";
    }

    try {
        if (status != DB_OK) {
            MessageBeep(MB_ICONWARNING);
            if (failure_text || error.empty())
                editor_show_message("Error saving data", failure_text ? failure_text : "Unexpected failure.");
            else
                editor_show_message("Error saving data", error);
        } else {
            MessageBeep(MB_ICONINFORMATION);
            editor_show_message("Data successfully saved", "All data has been encrypted and was saved.");
        }
    } catch (...) {
        // The message could not be built; the state below still tells the truth.
    }

    if (had_focus && IsWindow(editor_box)) {
        SetFocus(editor_box);
        SendMessageW(editor_box, EM_SETSEL, selection_start, static_cast<LPARAM>(selection_end));
    }
    if (status == DB_OK) {
        g_editor.changed = false;
        try {
            set_window_text(g_editor.main_window, kProductName);
        } catch (...) {
            // The title keeps its mark; the flag is what counts.
        }
    }
    if (g_editor.main_window)
        SetTimer(g_editor.main_window, IDT_INACTIVITY, g_editor.inactivity_interval, nullptr);
    return status == DB_OK;
}
