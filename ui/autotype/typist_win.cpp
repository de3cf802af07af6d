// The typing: a message-only window steps through the plan, one key per step, so
// that the editor's own messages (a lock above all) come between two keys.

#include "ui/autotype/typist.h"

#include <new>
#include <vector>

#include "autotype/integrity.h"
#include "autotype/matching.h"
#include "crypto/wipe.h"
#include "otp/otp.h"
#include "ui/autotype/auto_type.h"
#include "ui/common/text.h"
#include "ui/editor/editor_window.h"

namespace {

constexpr wchar_t kClassName[] = L"auto_type_typist";
constexpr UINT kStepMessage = WM_APP + 1;
constexpr UINT_PTR kStepTimer = 1;
constexpr UINT_PTR kLockCheckTimer = 2;
constexpr UINT kLockCheckPeriod = 200;

constexpr DWORD kFrontWait = 500;  // for the target to come to the front
constexpr DWORD kModifierWait = 2000;  // for the user to release the modifiers
constexpr UINT kPoll = 10;
// After Tab, Enter and a delay the focus may move: the target gets this long to
// handle the key before its focus is read again.
constexpr UINT kSettle = 50;

enum class Phase { kIdle, kBringing, kSettling, kWaitingForModifiers, kTyping };

struct Typing {
    HWND window = nullptr;
    HWND target = nullptr;
    HWND focus = nullptr;
    TypingPlan plan;
    std::size_t next = 0;  // the next action
    std::size_t typed = 0;  // keys sent
    std::size_t total = 0;
    Phase phase = Phase::kIdle;
    DWORD phase_start = 0;
    bool read_focus = false;  // the focus is read again before the next key
    bool check_title = false;  // the title is read again before the next key
    TitleRule titles;
    WPARAM generation = 0;  // of the steps posted for the typing under way
};

Typing g_typing;
// Of a typing that a lock stopped: how far it came, held until the lock happens or
// not...
struct StoppedForLock {
    bool pending = false;
    std::size_t typed = 0;
    std::size_t total = 0;
};
StoppedForLock g_stopped_for_lock;
// ...and, when it happened, the notice kept until the editor opens again.
std::string g_lock_notice;

// --- The target -------------------------------------------------------------

// False when Windows does not say which control has the focus.
bool read_focused_control(HWND target, HWND& focus)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(target, nullptr);
    if (!thread || !GetGUIThreadInfo(thread, &info)) return false;
    focus = info.hwndFocus;
    return true;
}

bool modifiers_released()
{
    const int keys[] = {VK_CONTROL, VK_MENU, VK_SHIFT, VK_LWIN, VK_RWIN};
    for (const int key : keys)
        if (GetAsyncKeyState(key) & 0x8000) return false;
    return true;
}

IntegrityReading reading_of(DWORD error)
{
    IntegrityReading reading;
    reading.state =
        error == ERROR_ACCESS_DENIED ? IntegrityReading::State::kAccessDenied : IntegrityReading::State::kFailed;
    return reading;
}

// The integrity level of the process's token (advapi32).
IntegrityReading integrity_of(HANDLE process)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return reading_of(GetLastError());
    DWORD size = 0;
    GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
    std::vector<DWORD_PTR> buffer(size / sizeof(DWORD_PTR) + 1);
    IntegrityReading reading;
    if (size &&
        GetTokenInformation(token, TokenIntegrityLevel, buffer.data(),
                            static_cast<DWORD>(buffer.size() * sizeof(DWORD_PTR)), &size)) {
        const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data());
        const PUCHAR count = GetSidSubAuthorityCount(label->Label.Sid);
        if (count && *count > 0) {
            reading.state = IntegrityReading::State::kRead;
            reading.level = *GetSidSubAuthority(label->Label.Sid, static_cast<DWORD>(*count - 1));
        }
    } else {
        reading = reading_of(GetLastError());
    }
    CloseHandle(token);
    return reading;
}

IntegrityDecision check_integrity(HWND target)
{
    DWORD process_id = 0;
    GetWindowThreadProcessId(target, &process_id);
    HANDLE process = process_id ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id) : nullptr;
    const IntegrityReading theirs = process ? integrity_of(process) : reading_of(GetLastError());
    if (process) CloseHandle(process);
    return decide_integrity(integrity_of(GetCurrentProcess()), theirs);
}

// --- The steps ----------------------------------------------------------------

DWORD elapsed()
{
    return GetTickCount() - g_typing.phase_start;
}

void enter(Phase phase)
{
    g_typing.phase = phase;
    g_typing.phase_start = GetTickCount();
}

// The next step: at once when nothing else waits, otherwise (and for pauses) by the
// timer, so that input, timers and sent messages go first.
void schedule(UINT delay)
{
    if (delay == 0 && HIWORD(GetQueueStatus(QS_TIMER | QS_INPUT | QS_SENDMESSAGE | QS_PAINT)) == 0 &&
        PostMessageW(g_typing.window, kStepMessage, g_typing.generation, 0))
        return;
    SetTimer(g_typing.window, kStepTimer, delay < USER_TIMER_MINIMUM ? USER_TIMER_MINIMUM : delay, nullptr);
}

void reset()
{
    if (g_typing.window) KillTimer(g_typing.window, kStepTimer);
    ++g_typing.generation;
    g_typing.plan.clear();
    g_typing.phase = Phase::kIdle;
    g_typing.target = g_typing.focus = nullptr;
    g_typing.next = g_typing.typed = g_typing.total = 0;
    g_typing.titles = TitleRule();
}

// Nothing was typed: say why.
void refuse(const char* text)
{
    reset();
    MessageBeep(MB_ICONWARNING);
    editor_show_message(kAutoTypeCaption, text);
}

std::string stopped_text(std::size_t typed, std::size_t total, const char* reason)
{
    return "Auto-type stopped after " + std::to_string(typed) + " of " + std::to_string(total) + " keys: " + reason;
}

std::string stopped_text(const char* reason)
{
    return stopped_text(g_typing.typed, g_typing.total, reason);
}

void stop_with(const std::string& reason)
{
    const std::string text = stopped_text(reason.c_str());
    refuse(text.c_str());
}

// One key: its records through SendInput. False when the system did not take them all.
bool send_action(const TypingAction& action)
{
    KeyRecord records[kMaxKeyRecords];
    INPUT inputs[kMaxKeyRecords] = {};
    WipeOnExit wipe_records(records, sizeof records);
    WipeOnExit wipe_inputs(inputs, sizeof inputs);
    const std::size_t count = key_records(action, records);
    for (std::size_t i = 0; i < count; ++i) {
        KEYBDINPUT& key = inputs[i].ki;
        inputs[i].type = INPUT_KEYBOARD;
        if (records[i].unicode) {
            key.wScan = records[i].unit;
            key.dwFlags = KEYEVENTF_UNICODE;
        } else {
            key.wVk = records[i].virtual_key;
            key.wScan = static_cast<WORD>(MapVirtualKeyW(records[i].virtual_key, MAPVK_VK_TO_VSC));
        }
        if (records[i].key_up) key.dwFlags |= KEYEVENTF_KEYUP;
    }
    return SendInput(static_cast<UINT>(count), inputs, sizeof(INPUT)) == count;
}

void type_next()
{
    if (g_typing.next == g_typing.plan.size()) {
        reset();
        return;
    }
    BeforeKey seen;
    seen.target_in_front = GetForegroundWindow() == g_typing.target;
    HWND focus = nullptr;
    seen.focus_read = read_focused_control(g_typing.target, focus);
    seen.focus_same = focus == g_typing.focus;
    seen.focus_moves = g_typing.read_focus;
    seen.title_checked = g_typing.check_title;
    std::string title;
    if (seen.title_checked && seen.target_in_front) {
        title = window_title(g_typing.target);
        seen.title_fits = g_typing.titles.fits(title);
    }
    const TypingStop stop = check_before_key(seen);
    if (stop != TypingStop::kNone) return stop_with(typing_stop_reason(stop, title));
    g_typing.focus = focus;
    g_typing.read_focus = g_typing.check_title = false;

    const TypingAction& action = g_typing.plan[g_typing.next++];
    if (action.kind == TypingAction::Kind::kDelay) {
        g_typing.read_focus = g_typing.check_title = true;
        return schedule(action.delay);
    }
    if (!send_action(action)) return stop_with("Windows did not take the keys (another program may block input).");
    ++g_typing.typed;
    if (action.kind == TypingAction::Kind::kKey) {
        g_typing.read_focus = true;
        g_typing.check_title = action.virtual_key == kVirtualKeyEnter;
        return schedule(kSettle);
    }
    schedule(0);
}

void begin_checks()
{
    const IntegrityDecision decision = check_integrity(g_typing.target);
    if (!decision.allowed) return refuse(decision.reason);
    enter(Phase::kWaitingForModifiers);
    schedule(0);
}

void step()
{
    switch (g_typing.phase) {
    case Phase::kIdle: return;
    case Phase::kBringing:
        // A window that comes to the front gives the focus back to its control only
        // when it has handled its activation.
        if (GetForegroundWindow() == g_typing.target) {
            enter(Phase::kSettling);
            return schedule(kSettle);
        }
        if (elapsed() > kFrontWait)
            return refuse("The window to type into did not come to the front within half a second, so nothing was "
                          "typed.");
        return schedule(kPoll);
    case Phase::kSettling: return begin_checks();
    case Phase::kWaitingForModifiers:
        if (modifiers_released()) {
            enter(Phase::kTyping);
            g_typing.read_focus = g_typing.check_title = true;
            return type_next();
        }
        if (elapsed() > kModifierWait)
            return refuse("Ctrl, Alt, Shift or the Windows key was still held two seconds after auto-type began, so "
                          "nothing was typed. Release them after pressing the keys that start it.");
        return schedule(kPoll);
    case Phase::kTyping: return type_next();
    }
}

// A lock stopped typing: while the editor is still open and no dialog of it is (the
// question whether to save, a failed save's message), the lock did not happen.
// When it does, the editor closes first and end_typist keeps the notice.
void check_lock_outcome(HWND window)
{
    const HWND editor = editor_main_window();
    if (editor && !IsWindowEnabled(editor) && g_stopped_for_lock.pending) return;
    KillTimer(window, kLockCheckTimer);
    if (!g_stopped_for_lock.pending) return;
    const StoppedForLock stopped = g_stopped_for_lock;
    g_stopped_for_lock = StoppedForLock();
    MessageBeep(MB_ICONWARNING);
    editor_show_message(kAutoTypeCaption,
                        stopped_text(stopped.typed, stopped.total, "a lock was asked for, and Glimkeep stayed open."));
}

LRESULT CALLBACK typist_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    try {
        if (message == kStepMessage) {
            if (wparam == g_typing.generation) step();
            return 0;
        }
        if (message == WM_TIMER && wparam == kStepTimer) {
            KillTimer(window, kStepTimer);
            step();
            return 0;
        }
        if (message == WM_TIMER && wparam == kLockCheckTimer) {
            check_lock_outcome(window);
            return 0;
        }
    } catch (...) {
        reset();
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

bool make_window()
{
    if (g_typing.window) return true;
    static bool registered = false;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!registered) {
        WNDCLASSEXW window_class = {};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = typist_proc;
        window_class.hInstance = instance;
        window_class.lpszClassName = kClassName;
        registered = RegisterClassExW(&window_class) != 0;
        if (!registered) return false;
    }
    g_typing.window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    return g_typing.window != nullptr;
}

}  // namespace

std::string window_title(HWND window)
{
    // Enough UTF-16 units for kMaxTitleLength characters of surrogate pairs.
    constexpr int kUnits = 2 * static_cast<int>(kMaxTitleLength) + 1;
    std::wstring title(static_cast<std::size_t>(kUnits), L'\0');
    const int copied = GetWindowTextW(window, &title[0], kUnits);
    title.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return std::string(capped_title(to_narrow(title)));
}

void start_typing(HWND target, TypingPlan&& plan, TitleRule&& titles, bool bring_to_front) noexcept
{
    if (g_typing.phase != Phase::kIdle) return;
    try {
        if (!make_window()) return refuse("Auto-type could not start. Nothing was typed.");
        g_typing.plan = std::move(plan);
        g_typing.titles = std::move(titles);
        g_typing.target = target;
        g_typing.total = g_typing.plan.keystrokes();
        ++g_typing.generation;
        if (bring_to_front) {
            enter(Phase::kBringing);
            SetForegroundWindow(target);
            schedule(kPoll);
        } else {
            begin_checks();
        }
    } catch (...) {
        reset();
    }
}

void type_node(HWND target, const TreeNode& node, bool bring_to_front)
{
    TypingPlan plan;
    const SequenceResult result = plan_node(node, unix_time_now(), plan);
    if (result.problem != SequenceProblem::kNone) {
        MessageBeep(MB_ICONWARNING);
        editor_show_message(kAutoTypeCaption, sequence_problem_text(result));
        return;
    }
    start_typing(target, std::move(plan), TitleRule(window_title(target), &node), bring_to_front);
}

bool typing_active() noexcept
{
    return g_typing.phase != Phase::kIdle;
}

void stop_typing(bool for_lock) noexcept
{
    if (g_typing.phase == Phase::kIdle) return;
    try {
        if (for_lock && g_typing.phase == Phase::kTyping) {
            g_stopped_for_lock = {true, g_typing.typed, g_typing.total};
            g_lock_notice.clear();
            SetTimer(g_typing.window, kLockCheckTimer, kLockCheckPeriod, nullptr);
        }
    } catch (...) {
    }
    reset();
}

std::string take_typing_notice()
{
    std::string notice;
    notice.swap(g_lock_notice);
    return notice;
}

void end_typist() noexcept
{
    stop_typing(true);
    // The editor closes: a lock asked for while typing went on happened.
    if (g_stopped_for_lock.pending) {
        try {
            g_lock_notice = stopped_text(g_stopped_for_lock.typed, g_stopped_for_lock.total, "Glimkeep locked.");
        } catch (...) {
        }
        g_stopped_for_lock = StoppedForLock();
    }
    if (g_typing.window) DestroyWindow(g_typing.window);
    g_typing.window = nullptr;
}
