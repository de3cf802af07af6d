#pragma once
// The start-up sequence: first-run creation, then the unlock loop.

#include <windows.h>

#include <string>

// Returns the process exit code: 0, or 1 when the vault cannot be loaded.
int run_application(HINSTANCE instance, int show_command);
// True when the file system has an entry named `path` (a file, readable or not, or a
// folder); false only when there is none.
bool file_exists(const std::string& path);
