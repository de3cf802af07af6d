// The start-up sequence: create a vault on first run, then load, unlock and edit it
// until the editor closes other than by its inactivity lock.
#include "app/application.h"

#include "ui/window_entry_points.h"
// Before the error texts, whose kWrongPassword its enumerations would shadow.
#include "vault/session.h"
#include "db/database.h"
#include "ui/autotype/auto_type.h"
#include "ui/common/vault_path.h"
#include "ui/common/error_texts.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/common/text.h"
#include "ui/passwords/quick_unlock.h"
#include "vault/document_check.h"

#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>

namespace {

// The editor box cannot hold a zero byte (the text would end there, and the next save
// would drop the rest): such a document is not opened at all. Text that is not UTF-8
// is shown with replacement characters, once the user knows. False when the editor
// must not open; the vault on disk is never touched here.
bool document_fits_the_editor(const Database& db)
{
    const DocumentCheck check =
        check_document(reinterpret_cast<const char*>(db.data()), db.data() ? db.data_length() : 0);
    if (check.has_zero) {
        show_error_box(kErrorOpeningDatabase,
                       zero_byte_text(check) + "\r\nNothing was changed: " + std::string(kDatabaseFileName) +
                           " is as it was.");
        return false;
    }
    static bool told_about_utf8 = false;
    if (!told_about_utf8 && check.invalid_utf8 > 0) {
        told_about_utf8 = true;
        show_error_box(kNotUtf8Caption,
                       invalid_utf8_text(check,
                                         "The first save keeps the original file as a backup (" +
                                             std::string(kDatabaseFileName) + ".<seconds>.bak)."));
    }
    return true;
}

// One pass of the unlock loop: load, ask for the password, edit.
// Returns 1 when the vault could not be loaded, 0 when the program should end,
// and -1 when the editor locked itself and the next pass should begin.
int unlock_pass(HINSTANCE instance, int show_command, const EditorOptions& options)
{
    Database db;  // its destructor wipes the plaintext and the password copy
    // The vault's session of this pass, the editor's while it runs; its destructor
    // wipes the base and the password in use.
    vault::Session session(db, vault_path());
    // Taken before the load: a change made while the password is typed counts as
    // made elsewhere.
    session.note_loading();
    if (db.load(session.path()) != DB_OK) {
        std::string text = db.last_error();
        text += "\r\n";
        text += kDatabaseFileName;
        show_error_box(kErrorLoadingDatabase, text);
        return 1;
    }
    bool locked = false;
    if (run_decrypt_db_window(instance, show_command, db, &session)) {
        if (!document_fits_the_editor(db)) {
            end_quick_unlock(nullptr);
            return 1;
        }
        locked = run_editor_window(instance, show_command, db, session, options);
    }
    // Locked: quick unlock keeps the vault's keys (never the password or the document,
    // which go with `db`) when they are still the ones kept at the full unlock.
    if (locked)
        note_editor_locked(db);
    else
        end_quick_unlock(nullptr);
    return locked ? -1 : 0;
}

int run_sequence(HINSTANCE instance, int show_command, const EditorOptions& options)
{
    fix_vault_path();
    watch_foreground_windows();
    if (!file_exists(kDatabaseFileName)) {
        register_create_db_window(instance);
        run_create_db_window(instance, show_command);
    }
    if (!file_exists(kDatabaseFileName)) return 0;

    load_lock_settings();
    register_decrypt_db_window(instance);
    register_editor_window(instance);
    for (;;) {
        const int result = unlock_pass(instance, show_command, options);
        if (result >= 0) return result;
    }
}

}  // namespace

int run_application(HINSTANCE instance, int show_command, const EditorOptions& options)
{
    // The windows catch their own failures; this is the last line for anything
    // that happens between them (running out of memory while building a message).
    try {
        return run_sequence(instance, show_command, options);
    } catch (const std::bad_alloc&) {
        show_error_box(kErrorCaptionW, kNotEnoughMemoryToContinue);
    } catch (...) {
        show_error_box(kErrorCaptionW, kUnexpectedEnd);
    }
    return 1;
}
