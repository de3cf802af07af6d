// The lock when the user leaves.

#include "ui/editor/absence_lock.h"

#include "resource.h"
#include "ui/common/system_dll.h"
#include "ui/editor/editor_state.h"
#include "ui/autotype/auto_type.h"
#include "ui/changed_elsewhere/changed_elsewhere.h"

namespace {

// From the system's headers of newer versions than the program's target (Vista).
constexpr DWORD kNotifyForThisSession = 0;

using RegisterSessionNotificationFn = BOOL(WINAPI*)(HWND, DWORD);
using UnregisterSessionNotificationFn = BOOL(WINAPI*)(HWND);

// wtsapi32.dll while the editor's window is registered with it.
HMODULE g_wtsapi = nullptr;

}  // namespace

void lock_for_absence(HWND window) noexcept
{
    stop_auto_type_for_lock();
    stop_inactivity_timer();
    // An unsaved document that sits in a conflicted copy is safe there: it is offered
    // for merging when the vault is opened next, and the editor locks without it.
    if (g_editor.changed && !unsaved_document_in_copy()) {
        // A modal window is open over the editor (a message, a question, a password
        // or file dialog, the "not locked" notice): its loop still delivers this
        // event, but no save or notice may start inside it. The timer tries again.
        const bool saved = IsWindowEnabled(window) && save_database_quietly();
        if (!saved && !unsaved_document_in_copy()) {
            if (IsWindowEnabled(window)) PostMessageW(window, WM_COMMAND, IDM_NOT_LOCKED_NOTICE, 0);
            restart_inactivity_timer();
            return;
        }
    }
    g_editor.timed_out = true;
    PostMessageW(window, WM_CLOSE, 0, 0);
}

void start_session_notifications(HWND window) noexcept
{
    if (!g_wtsapi) g_wtsapi = load_system_dll(L"wtsapi32.dll");
    const auto register_notification =
        system_function<RegisterSessionNotificationFn>(g_wtsapi, "WTSRegisterSessionNotification");
    if (register_notification) register_notification(window, kNotifyForThisSession);
}

void end_session_notifications(HWND window) noexcept
{
    const auto unregister_notification =
        system_function<UnregisterSessionNotificationFn>(g_wtsapi, "WTSUnRegisterSessionNotification");
    if (unregister_notification) unregister_notification(window);
    if (g_wtsapi) FreeLibrary(g_wtsapi);
    g_wtsapi = nullptr;
}
