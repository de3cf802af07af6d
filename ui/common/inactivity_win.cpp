// The one inactivity timer and its pauses.

#include "ui/common/inactivity.h"

#include "resource.h"

namespace {

HWND g_window = nullptr;
const UINT* g_interval = nullptr;
int g_pauses = 0;

}  // namespace

void start_inactivity_timer(HWND window, const UINT* interval) noexcept
{
    g_window = window;
    g_interval = interval;
    restart_inactivity_timer();
}

void restart_inactivity_timer() noexcept
{
    if (!g_window || !g_interval || g_pauses > 0) return;
    KillTimer(g_window, IDT_INACTIVITY);
    SetTimer(g_window, IDT_INACTIVITY, *g_interval, nullptr);
}

void stop_inactivity_timer() noexcept
{
    if (g_window) KillTimer(g_window, IDT_INACTIVITY);
}

void end_inactivity_timer() noexcept
{
    stop_inactivity_timer();
    g_window = nullptr;
    g_interval = nullptr;
}

InactivityPause::InactivityPause() noexcept
{
    ++g_pauses;
    stop_inactivity_timer();
}

InactivityPause::~InactivityPause()
{
    --g_pauses;
    restart_inactivity_timer();
}
