#pragma once
// The inactivity timer (IDT_INACTIVITY) of the window that locks itself when the
// user leaves it: started with the window, started anew by the user's activity,
// paused while another message loop runs over the window, stopped when the window
// closes or locks. User-interface thread only.

#include <windows.h>

// Starts `window`'s timer, with the interval that `*interval` holds at each start;
// `interval` outlives the window.
void start_inactivity_timer(HWND window, const UINT* interval) noexcept;
// Starts the timer anew with the full interval. Nothing while a pause holds it, or
// when no window has one.
void restart_inactivity_timer() noexcept;
// Stops the timer (the window closes or locks); restart_inactivity_timer starts it again.
void stop_inactivity_timer() noexcept;
// When the window is destroyed: no window has the timer any more.
void end_inactivity_timer() noexcept;

// Holds the timer off while it lives (a window with its own message loop runs over
// the window that locks: the lock would close it underneath); the timer starts anew
// when the last pause goes. Pauses nest.
class InactivityPause {
public:
    InactivityPause() noexcept;
    ~InactivityPause();
    InactivityPause(const InactivityPause&) = delete;
    InactivityPause& operator=(const InactivityPause&) = delete;
};
