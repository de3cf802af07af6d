#pragma once
// The picker: a small window of its own, always on top, that lists the entries
// matching the window in front and types the one chosen. Internal to ui/autotype/.

#include <windows.h>

#include <string>

#include "autotype/matching.h"

// Opens the picker for `target` (titled `title`, UTF-8) with `matches` (possibly
// none), the first row selected. Returns false when it could not be made. The
// picker closes itself when the target window is gone or the document changes; on
// Enter it types nothing, and says so, when the target's title is no longer `title`.
bool open_picker(HWND target, const std::string& title, TitleMatches&& matches) noexcept;
// Brings an open picker to the front.
void show_picker() noexcept;
bool picker_open() noexcept;
// Closes it without typing; its rows are wiped.
void close_picker() noexcept;
