#pragma once
// No exception crosses a window procedure: the windows' procedures dispatch through
// this wrapper.

#include <windows.h>

// The result of `dispatch()`; when it throws, the warning beep and `failed`.
template <class Dispatch>
LRESULT dispatch_guarded(Dispatch&& dispatch, LRESULT failed = 0) noexcept
{
    try {
        return dispatch();
    } catch (...) {
        MessageBeep(MB_ICONWARNING);
    }
    return failed;
}
