// The start-up sequence: create a vault on first run, then load, unlock and edit it
// until the editor closes other than by its inactivity lock.
#include "app/application.h"

#include "app/windows.h"
#include "db/database.h"
#include "ui/message_dialog.h"

#include <exception>
#include <fstream>
#include <new>
#include <string>

namespace {

// One pass of the unlock loop: load, ask for the password, edit.
// Returns 1 when the vault could not be loaded, 0 when the program should end,
// and -1 when the editor locked itself and the next pass should begin.
int unlock_pass(HINSTANCE instance, int show_command)
{
    Database db;  // its destructor wipes the plaintext and the password copy
    if (db.load(kDatabaseFileName) != DB_OK) {
        std::string text = db.last_error();
        text += "\r\n";
        text += kDatabaseFileName;
        show_error_box("Error loading database", text);
        return 1;
    }
    bool locked = false;
    if (run_decrypt_db_window(instance, show_command, db)) {
        locked = run_editor_window(instance, show_command, db);
    }
    return locked ? -1 : 0;
}

int run_sequence(HINSTANCE instance, int show_command)
{
    if (!file_exists(kDatabaseFileName)) {
        register_create_db_window(instance);
        run_create_db_window(instance, show_command);
    }
    if (!file_exists(kDatabaseFileName)) return 0;

    register_decrypt_db_window(instance);
    register_editor_window(instance);
    for (;;) {
        const int result = unlock_pass(instance, show_command);
        if (result >= 0) return result;
    }
}

}  // namespace

bool file_exists(const std::string& path)
{
    // std::ifstream opens with sharing that lets other readers and writers in.
    std::ifstream file(path);
    return file.good();
}

int run_application(HINSTANCE instance, int show_command)
{
    // The windows catch their own failures; this is the last line for anything
    // that happens between them (running out of memory while building a message).
    try {
        return run_sequence(instance, show_command);
    } catch (const std::bad_alloc&) {
        MessageBoxW(nullptr, L"There is not enough memory to continue.", L"Error", MB_ICONWARNING);
    } catch (...) {
        MessageBoxW(nullptr, L"An unexpected failure ended the program.", L"Error", MB_ICONWARNING);
    }
    return 1;
}
