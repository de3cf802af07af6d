#pragma once
// No exception crosses a window procedure: the windows' procedures, and those of the
// controls they subclass, dispatch through this wrapper.

#include <windows.h>

#include <utility>

// The result of `dispatch()`; when it throws, the warning beep and the result of
// `failed()`, which must not throw (a subclassed control's, for instance: the message
// then goes to the control's own procedure).
template <class Dispatch, class Failed>
LRESULT dispatch_guarded_or(Dispatch&& dispatch, Failed&& failed) noexcept
{
    try {
        return dispatch();
    } catch (...) {
        MessageBeep(MB_ICONWARNING);
    }
    return failed();
}

// The result of `dispatch()`; when it throws, the warning beep and `failed`.
template <class Dispatch>
LRESULT dispatch_guarded(Dispatch&& dispatch, LRESULT failed = 0) noexcept
{
    return dispatch_guarded_or(std::forward<Dispatch>(dispatch), [failed]() noexcept { return failed; });
}
