#pragma once
// The start-up sequence: first-run creation, then the unlock loop.

#include <windows.h>

#include "ui/editor/editor_options.h"
#include "ui/common/text.h"  // file_exists, which start-up asks first

// Returns the process exit code: 0, or 1 when the vault cannot be loaded. The
// editor's options stay the program's own but in the test build.
int run_application(HINSTANCE instance, int show_command, const EditorOptions& options = EditorOptions());
