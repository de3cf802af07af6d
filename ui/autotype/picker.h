#pragma once
// The picker: a small window of its own, always on top, that lists the entries
// matching the window in front and types the one chosen. Internal to ui/autotype/.

#include <windows.h>

#include <string>

#include "autotype/matching.h"

// Opens the picker for `target` (titled `title`) with `matches` (possibly none),
// the first row selected. Returns false when it could not be made.
bool open_picker(HWND target, const std::wstring& title, TitleMatches&& matches) noexcept;
bool picker_open() noexcept;
// Closes it without typing; its rows are wiped.
void close_picker() noexcept;
