#pragma once
// File > Password report: the report of the document's passwords in a window over
// the editor (modal to it), and Enter on a row shows that row's entry in the editor.
// User-interface thread only.

#include <windows.h>

// Builds the report of the whole document (after storing the editor's text) and
// shows it until the user closes it or picks a row. The breach file chosen in it
// (ordered by hash) is remembered until the program ends.
void show_password_report(HWND editor);
