#pragma once
// The program's windows keep out of screen captures where the system allows it.

#include <windows.h>

// SetWindowDisplayAffinity(WDA_EXCLUDEFROMCAPTURE), falling back to WDA_MONITOR on
// systems before Windows 10 2004; nothing on systems without it (Vista). Failures
// are ignored.
void exclude_from_screen_capture(HWND window) noexcept;
