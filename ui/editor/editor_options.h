#pragma once
// What a run of the editor may be given instead of the program's own settings: the
// tests and the test build of the program shorten the timers and put in a failing
// password generator. The program runs with the defaults.

#include <windows.h>

#include "crypto/password_generator.h"

struct EditorOptions {
    // Ten minutes without a text change lock the editor.
    UINT inactivity_interval = 600000;
    // Thirty seconds after Enter copied, the copy leaves the clipboard.
    UINT clipboard_clear_interval = 30000;
    // The generator behind Ctrl+G.
    int (*password_generator)(char out[kGeneratedPasswordLength]) = generate_password;
};
