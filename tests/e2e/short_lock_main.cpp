// Glimkeep as it ships, except that the editor locks after a few seconds without
// edits instead of ten minutes, so that a test can wait for the lock.
#include "app/application.h"
#include "ui/editor_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    g_editor.inactivity_interval = 8000;
    return run_application(instance, show_command);
}
