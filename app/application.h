#pragma once
// The start-up sequence: first-run creation, then the unlock loop.

#include <windows.h>

#include <string>

// Returns the process exit code: 0, or 1 when the vault cannot be loaded.
int run_application(HINSTANCE instance, int show_command);
// True when `path` opens for reading (shared with other readers and writers).
bool file_exists(const std::string& path);
