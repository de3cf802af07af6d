// The start-up sequence: create a vault on first run, then load, unlock and edit it
// until the editor closes other than by its inactivity lock.
#include "app/application.h"

#include "app/window_entry_points.h"
#include "db/database.h"
#include "ui/changed_elsewhere/changed_elsewhere.h"
#include "ui/common/error_texts.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/common/text.h"

#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>

namespace {

// The number of bytes that are not part of a well-formed UTF-8 character (each
// maximal ill-formed run counted byte by byte): the bytes the editor shows as U+FFFD.
std::size_t count_invalid_utf8(const std::uint8_t* bytes, std::size_t size)
{
    std::size_t invalid = 0;
    std::size_t i = 0;
    while (i < size) {
        const unsigned lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;  // no overlong forms
            if (lead == 0xED) high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
        } else {
            ++invalid;
            ++i;
            continue;
        }
        std::size_t k = 1;
        while (k < length && i + k < size) {
            const unsigned next = bytes[i + k];
            if (k == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF)) break;
            ++k;
        }
        if (k < length) invalid += k;
        i += k;
    }
    return invalid;
}

// The editor box cannot hold a zero byte (the text would end there, and the next save
// would drop the rest): such a document is not opened at all. Text that is not UTF-8
// is shown with replacement characters, once the user knows. False when the editor
// must not open; the vault on disk is never touched here.
bool document_fits_the_editor(const Database& db)
{
    const std::uint8_t* bytes = db.data();
    const std::size_t size = bytes ? db.data_length() : 0;
    if (const void* zero = size ? std::memchr(bytes, 0, size) : nullptr) {
        const std::size_t offset = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes);
        std::size_t line = 1;
        for (std::size_t i = 0; i < offset; ++i)
            if (bytes[i] == '\n') ++line;
        show_error_box(kErrorOpeningDatabase,
                       "The decrypted text holds a zero byte at byte " + std::to_string(offset + 1) + " (line " +
                           std::to_string(line) +
                           "), which the editor cannot show without losing the text "
                           "after it.\r\nNothing was changed: " +
                           std::string(kDatabaseFileName) + " is as it was.");
        return false;
    }
    static bool told_about_utf8 = false;
    const std::size_t invalid = told_about_utf8 ? 0 : count_invalid_utf8(bytes, size);
    if (invalid > 0) {
        told_about_utf8 = true;
        show_error_box(kNotUtf8Caption,
                       "The decrypted text holds " + std::to_string(invalid) +
                           (invalid == 1 ? " byte that is" : " bytes that are") +
                           " not valid UTF-8. The editor shows them as replacement characters, and saving "
                           "writes those characters in their place. The first save keeps the original file "
                           "as a backup (" +
                           std::string(kDatabaseFileName) + ".<seconds>.bak).");
    }
    return true;
}

// One pass of the unlock loop: load, ask for the password, edit.
// Returns 1 when the vault could not be loaded, 0 when the program should end,
// and -1 when the editor locked itself and the next pass should begin.
int unlock_pass(HINSTANCE instance, int show_command, const EditorOptions& options)
{
    Database db;  // its destructor wipes the plaintext and the password copy
    note_vault_loading();
    if (db.load(vault_path()) != DB_OK) {
        std::string text = db.last_error();
        text += "\r\n";
        text += kDatabaseFileName;
        show_error_box(kErrorLoadingDatabase, text);
        return 1;
    }
    bool locked = false;
    if (run_decrypt_db_window(instance, show_command, db)) {
        if (!document_fits_the_editor(db)) return 1;
        locked = run_editor_window(instance, show_command, db, options);
    }
    return locked ? -1 : 0;
}

int run_sequence(HINSTANCE instance, int show_command, const EditorOptions& options)
{
    fix_vault_path();
    if (!file_exists(kDatabaseFileName)) {
        register_create_db_window(instance);
        run_create_db_window(instance, show_command);
    }
    if (!file_exists(kDatabaseFileName)) return 0;

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
