// The windows kept out of screen captures.

#include "ui/common/capture_exclusion.h"

#include "ui/common/system_dll.h"

namespace {

// From the system's headers of newer versions than the program's target (Vista).
constexpr DWORD kWdaMonitor = 0x01;
constexpr DWORD kWdaExcludeFromCapture = 0x11;

using SetDisplayAffinityFn = BOOL(WINAPI*)(HWND, DWORD);

}  // namespace

void exclude_from_screen_capture(HWND window) noexcept
{
    const auto set_affinity =
        system_function<SetDisplayAffinityFn>(GetModuleHandleW(L"user32.dll"), "SetWindowDisplayAffinity");
    if (!set_affinity) return;
    if (!set_affinity(window, kWdaExcludeFromCapture)) set_affinity(window, kWdaMonitor);
}
