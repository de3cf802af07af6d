#pragma once
// The start-up sequence: first-run creation, then the unlock loop.

#include <windows.h>

#include "ui/text.h"  // file_exists, which start-up asks first

// Returns the process exit code: 0, or 1 when the vault cannot be loaded.
int run_application(HINSTANCE instance, int show_command);
