// Glimkeep as it ships, except that the editor locks after a few seconds without
// edits instead of ten minutes, and a copy leaves the clipboard after a few seconds
// instead of thirty, so that a test can wait for both.
#include "app/application.h"
#include "ui/editor/editor_commands.h"
#include "ui/editor/editor_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    EditorOptions options;
    options.inactivity_interval = 8000;
    options.clipboard_clear_interval = 4000;
    return run_application(instance, show_command, options);
}
