// The two password windows that come before the editor: "create_db" writes a new,
// empty vault with the password typed; "decrypt_db" opens the loaded vault. A third,
// "change_password", is built like "create_db" and asks the editor's new password.
// Both: a coloured title, a picture, an explanation, and a grey band at the bottom
// holding the password box and one button. Controls are laid out on every paint.
#include "ui/window_entry_points.h"
#include "vault/session.h"
#include "audit/strength.h"

#include "crypto/wipe.h"
#include "db/database.h"
#include "db/legacy_backups.h"
#include "resource.h"
#include "ui/common/capture_exclusion.h"
#include "ui/common/box_memory.h"
#include "ui/common/dpi.h"
#include "ui/common/error_texts.h"
#include "ui/common/gdi.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/common/text.h"
#include "ui/passwords/quick_unlock.h"
#include "ui/passwords/vault_upgrade.h"
#include "ui/editor/editor_window.h"

#include <commctrl.h>

#include <cwchar>
#include <exception>
#include <new>
#include <string>

namespace {

constexpr int kBandHeight = 39;
// The windows that take a new password show its strength in a line under the box.
constexpr int kStrengthLine = 18;
constexpr COLORREF kTitleColour = RGB(0, 30, 80);

// Module-level state, one set per window kind.
struct WindowState {
    HWND window = nullptr;
    HWND box = nullptr;
    HWND button = nullptr;
    HWND strength = nullptr;  // the new password's strength, under the box
    Brush band_brush;  // the strength line's background
    WNDPROC previous_box_proc = nullptr;
    Font title_font;
    Font text_font;
    Bitmap picture;
    Database* db = nullptr;  // the open window's; borrowed for one run
    bool opened = false;  // open window: decrypted; change window: password given
    HWND owner = nullptr;  // change window: the editor, disabled while it runs
    SecretString* accepted = nullptr;  // when set: receives the password that opened or was given
    const wchar_t* title = nullptr;  // when set: in place of the kind's title and explanation
    const wchar_t* explanation = nullptr;
    // The open window of the unlock loop (not one over the editor): its full unlock
    // may keep the keys for quick unlock.
    bool unlock_loop = false;
    // Quick unlock: the number of characters asked for (0: the full password), and the
    // explanation that says so or why the full password is needed.
    unsigned code_length = 0;
    std::wstring explanation_text;
};

// What differs between the two windows.
struct WindowKind {
    const wchar_t* class_name;
    int width;
    int height;
    const wchar_t* title;
    const wchar_t* explanation;
    int picture;
    DWORD box_style;
    const wchar_t* cue_banner;
    const wchar_t* button_text;
    int command;
    int gap;  // between the explanation and the band
    void (*run_command)(WindowState& state);
    WNDPROC window_proc;
    WNDPROC box_proc;
    bool shows_strength;  // a new password: its strength under the box
};

void create_database(WindowState& state);
void decrypt_database(WindowState& state);
void change_password(WindowState& state);
void upgrade_password(WindowState& state);
// The procedures of a kind's window and password box: the shared ones below, given
// the kind and its state.
template <const WindowKind& Kind, WindowState& State>
LRESULT CALLBACK kind_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
template <const WindowKind& Kind, WindowState& State>
LRESULT CALLBACK kind_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam);

// One state per window kind (module-level window state).
WindowState g_create_db;
WindowState g_decrypt_db;
WindowState g_change_password;
WindowState g_upgrade_password;

const WindowKind kCreateDb = {
    L"create_db",
    470,
    190 + kStrengthLine,
    L"Setup new password database",
    L"No database file found. To setup a new one, please provide the master password that will "
    L"be used for the encryption of the database. It is very important to remember it as you "
    L"will always have to enter it to access the stored passwords.",
    IDB_CREATE_DB,
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_WANTRETURN | ES_AUTOHSCROLL,
    L"Enter master password",
    L"Create database",
    IDC_CREATE_DB,
    12,
    create_database,
    kind_window_proc<kCreateDb, g_create_db>,
    kind_box_proc<kCreateDb, g_create_db>,
    true,
};

const WindowKind kDecryptDb = {
    L"decrypt_db",
    413,
    162,
    L"Decrypt password database",
    L"Please enter the database password below to encrypt the password database.",
    IDB_DECRYPT_DB,
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_WANTRETURN | ES_AUTOHSCROLL | ES_PASSWORD,
    L"Enter database password",
    L"Open database",
    IDC_OPEN_DB,
    8,
    decrypt_database,
    kind_window_proc<kDecryptDb, g_decrypt_db>,
    kind_box_proc<kDecryptDb, g_decrypt_db>,
    false,
};

const WindowKind kChangePassword = {
    L"change_password",
    470,
    190 + kStrengthLine,
    L"Change master password",
    L"Please provide the new master password. The vault will be saved at once, encrypted with "
    L"the new password. The backup files of earlier saves keep the old password: delete them "
    L"if that matters.",
    IDB_CREATE_DB,
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_WANTRETURN | ES_AUTOHSCROLL,
    L"Enter new master password",
    L"Set password",
    IDM_CHANGE_PASSWORD,
    12,
    change_password,
    kind_window_proc<kChangePassword, g_change_password>,
    kind_box_proc<kChangePassword, g_change_password>,
    true,
};

const WindowKind kUpgradePassword = {
    L"upgrade_password",
    470,
    190 + kStrengthLine,
    L"Upgrade vault format",
    L"Please provide a new master password for format 2.0: the current one can be found from any copy "
    L"of the vault in format 1.0, such as its backups. The vault will be saved at once in format 2.0, "
    L"encrypted with the new password.",
    IDB_CREATE_DB,
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_WANTRETURN | ES_AUTOHSCROLL,
    L"Enter new master password",
    L"Upgrade",
    IDC_UPGRADE_PASSWORD,
    12,
    upgrade_password,
    kind_window_proc<kUpgradePassword, g_upgrade_password>,
    kind_box_proc<kUpgradePassword, g_upgrade_password>,
    true,
};

// The password as typed, in UTF-8; neither it nor the window's wide text leaves a
// copy that is not wiped.
SecretString typed_password(HWND box)
{
    return SecretString(to_narrow(SecretWString(get_window_text_w(box)).str()));
}

// The length a vault takes a password with.
std::uint32_t length_of(const SecretString& password)
{
    return static_cast<std::uint32_t>(password.size());
}

// Refuses what was typed: a warning beep, the message, and the box takes the focus
// back so that the user can type again.
void refuse(const WindowState& state, const char* caption, const std::string& text)
{
    MessageBeep(MB_ICONWARNING);
    show_message(state.window, caption, text);
    SetFocus(state.box);
}

// Shows why a command could not complete (out of memory, a failing random source)
// without letting anything escape into the window procedure.
void report_failure(HWND window, const char* caption, const std::exception* failure) noexcept
{
    MessageBeep(MB_ICONWARNING);
    try {
        std::string text = kOperationFailed;
        if (dynamic_cast<const std::bad_alloc*>(failure)) {
            text = kOperationOutOfMemory;
        } else if (failure && failure->what() && *failure->what()) {
            text += "\r\n";
            text += failure->what();
        }
        show_message(window, caption, text);
    } catch (...) {
        // Nothing more can be shown; the window stays as it was.
    }
}

LRESULT on_create(const WindowKind& kind, WindowState& state, HWND window)
{
    state.window = window;
    exclude_from_screen_capture(window);
    state.title_font.reset(create_message_font(scaled(25)));
    state.text_font.reset(create_message_font(scaled(16)));
    HINSTANCE instance = GetModuleHandleW(nullptr);
    state.picture.reset(LoadBitmapW(instance, MAKEINTRESOURCEW(kind.picture)));

    state.box =
        CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", kind.box_style, 0, 0, 0, 0, window, nullptr, instance, nullptr);
    state.button =
        CreateWindowExW(0, L"BUTTON", kind.button_text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0,
                        0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kind.command)), instance, nullptr);
    if (kind.shows_strength) {
        state.strength = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 0, 0, 0, 0, window,
                                         nullptr, instance, nullptr);
        state.band_brush.reset(CreateSolidBrush(kBandColour));
        SendMessageW(state.strength, WM_SETFONT, reinterpret_cast<WPARAM>(state.text_font.get()), TRUE);
    }
    SendMessageW(state.box, WM_SETFONT, reinterpret_cast<WPARAM>(state.text_font.get()), TRUE);
    SendMessageW(state.button, WM_SETFONT, reinterpret_cast<WPARAM>(state.text_font.get()), TRUE);
    // TRUE: the cue stays visible while the box has the focus.
    SendMessageW(state.box, EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(state.code_length > 0 ? L"Last characters, or Esc" : kind.cue_banner));

    state.previous_box_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(state.box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(kind.box_proc)));
    SetFocus(state.box);
    return 0;
}

// The picture at the left: stretched by whole pixels' worth on a high-DPI screen, a
// plain copy at 96 DPI.
void paint_picture(HDC dc, HBITMAP bitmap, const BITMAP& picture)
{
    const MemoryDc picture_dc(dc);
    if (!picture_dc.get()) return;
    const SelectInScope select_picture(picture_dc.get(), bitmap);
    if (screen_dpi() == 96) {
        BitBlt(dc, 10, 40, picture.bmWidth, picture.bmHeight, picture_dc.get(), 0, 0, SRCCOPY);
    } else {
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchBlt(dc, scaled(10), scaled(40), scaled(picture.bmWidth), scaled(picture.bmHeight), picture_dc.get(), 0,
                   0, picture.bmWidth, picture.bmHeight, SRCCOPY);
    }
}

// The coloured title and the explanation beside the picture; returns the top of the
// band below them.
int paint_texts(HDC dc, const WindowKind& kind, const WindowState& state, const RECT& client, const BITMAP& picture)
{
    const SelectInScope select_title_font(dc, state.title_font.get());
    SetTextColor(dc, kTitleColour);
    RECT title = {scaled(10), scaled(5), client.right - scaled(5), client.bottom};
    DrawTextW(dc, state.title ? state.title : kind.title, -1, &title, DT_END_ELLIPSIS);

    const SelectInScope select_text_font(dc, state.text_font.get());
    SetTextColor(dc, RGB(0, 0, 0));
    RECT text = {scaled(picture.bmWidth + 20), scaled(35), client.right - scaled(5), client.bottom};
    const wchar_t* explanation = state.explanation ? state.explanation : kind.explanation;
    DrawTextW(dc, explanation, -1, &text, DT_CALCRECT | DT_WORDBREAK);
    int band_top = text.bottom + scaled(kind.gap);
    const int band_height = scaled(kBandHeight + (kind.shows_strength ? kStrengthLine : 0));
    if (client.bottom - band_height > band_top) band_top = client.bottom - band_height;
    DrawTextW(dc, explanation, -1, &text, DT_WORDBREAK);
    return band_top;
}

// The button's width for its caption: the caption as the button's font draws it, and
// on each side the system's button margins (the 3-D edge, the focus rectangle, and an
// average character's breadth of space between them and the caption), but never
// narrower than a standard button. Measured at the screen's DPI, as the font is.
int button_width(const WindowState& state, const wchar_t* caption)
{
    constexpr int kStandardWidth = 75;
    int width = scaled(kStandardWidth);
    HDC dc = GetDC(state.button);
    if (!dc) return width;
    {
        const SelectInScope select_font(dc, state.text_font.get());
        SIZE extent = {};
        TEXTMETRICW metrics = {};
        if (GetTextExtentPoint32W(dc, caption, static_cast<int>(std::wcslen(caption)), &extent) &&
            GetTextMetricsW(dc, &metrics)) {
            const int margin =
                GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXFOCUSBORDER) + metrics.tmAveCharWidth;
            if (extent.cx + 2 * margin > width) width = extent.cx + 2 * margin;
        }
    }
    ReleaseDC(state.button, dc);
    return width;
}

LRESULT on_paint(const WindowKind& kind, WindowState& state, HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (!dc) return 0;
    BITMAP picture = {};
    if (state.picture) GetObjectW(state.picture.get(), sizeof picture, &picture);

    const int band_top = paint_texts(dc, kind, state, client, picture);
    paint_picture(dc, state.picture.get(), picture);
    paint_band(dc, RECT{0, band_top, client.right, client.bottom});

    // The button at the right edge as wide as its caption needs; the box takes the rest.
    const int width = button_width(state, kind.button_text);
    const int button_left = client.right - scaled(8) - width;
    MoveWindow(state.box, scaled(8), band_top + scaled(9), button_left - scaled(16), scaled(23), TRUE);
    MoveWindow(state.button, button_left, band_top + scaled(9), width, scaled(23), TRUE);
    if (state.strength)
        MoveWindow(state.strength, scaled(8), band_top + scaled(34), button_left - scaled(16), scaled(kStrengthLine),
                   TRUE);
    EndPaint(window, &paint);
    return 0;
}

// Runs one of the windows' commands: a failure (out of memory, the system's) is
// reported under `caption` and the focus goes back to the box.
template <typename Command>
void run_reported(WindowState& state, const char* caption, Command command)
{
    try {
        command();
    } catch (const std::exception& failure) {
        report_failure(state.window, caption, &failure);
        SetFocus(state.box);
    } catch (...) {
        report_failure(state.window, caption, nullptr);
        SetFocus(state.box);
    }
}

void create_database(WindowState& state)
{
    HWND window = state.window;
    run_reported(state, kErrorCreatingDatabase, [&] {
        const SecretString password = typed_password(state.box);
        if (password.empty()) {
            refuse(state, kErrorCaption, kEmptyMasterPassword);
            return;
        }
        // Never over an existing vault, whatever put it there since the window opened:
        // looked for here, and refused by the save itself if it appears meanwhile.
        const auto report_existing_vault = [&] {
            refuse(state, kErrorCreatingDatabase,
                   std::string("A database file already exists (") + kDatabaseFileName +
                       "); it was not replaced. Close this window to open it.");
        };
        if (file_exists(kDatabaseFileName)) {
            report_existing_vault();
            return;
        }
        Database db;
        vault::Session session(db, kDatabaseFileName);
        if (session.create(password).outcome == vault::SessionOutcome::kDone) {
            MessageBeep(MB_ICONINFORMATION);
            show_message(window, "Database successfully created",
                         "The database file has been created. You can now open and edit it.");
            PostMessageW(window, WM_CLOSE, 0, 0);
        } else if (file_exists(kDatabaseFileName)) {
            report_existing_vault();
        } else {
            refuse(state, kErrorCreatingDatabase, db.last_error());
        }
    });
}

// The explanation shown from now on (the window is painted again).
void set_explanation(WindowState& state, std::wstring text)
{
    state.explanation_text = std::move(text);
    state.explanation = state.explanation_text.empty() ? nullptr : state.explanation_text.c_str();
    if (state.window) InvalidateRect(state.window, nullptr, TRUE);
}

// Quick unlock asks for the last characters of the master password.
void ask_for_code(WindowState& state, unsigned length)
{
    state.code_length = length;
    set_explanation(state,
                    L"Quick unlock: type the last " + std::to_wstring(length) + L" characters of your master password");
}

// From the code to the full password: what was kept is wiped, and the window says why.
void ask_for_full_password(WindowState& state, const std::wstring& reason)
{
    end_quick_unlock(nullptr);
    state.code_length = 0;
    set_explanation(state, reason);
    if (state.box) {
        wipe_box_text(state.box);
        SendMessageW(state.box, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(kDecryptDb.cue_banner));
        SetFocus(state.box);
    }
}

void decrypt_with_code(WindowState& state)
{
    HWND window = state.window;
    run_reported(state, kErrorDecryptingDatabase, [&] {
        const SecretString code = typed_password(state.box);
        std::wstring reason;
        if (open_with_code(*state.db, code, reason)) {
            if (state.accepted) state.accepted->clear();
            state.opened = true;
            PostMessageW(window, WM_CLOSE, 0, 0);
            return;
        }
        MessageBeep(MB_ICONWARNING);
        ask_for_full_password(state, reason);
    });
}

void decrypt_database(WindowState& state)
{
    if (state.opened || !state.db) return;
    if (state.code_length > 0) {
        decrypt_with_code(state);
        return;
    }
    HWND window = state.window;
    run_reported(state, kErrorDecryptingDatabase, [&] {
        const SecretString password = typed_password(state.box);
        // The editor's own vault, opened by quick unlock: the password must derive its keys.
        const bool held = state.db->decrypted() && opened_by_quick_unlock();
        if (!held) state.db->set_password(password.data(), length_of(password));
        if (state.accepted) *state.accepted = SecretString(password.data(), password.size());
        const int rc =
            held ? state.db->take_password_of_keys(password.data(), length_of(password)) : state.db->decrypt();
        if (rc != DB_OK && state.accepted) state.accepted->clear();
        if (rc == DB_OK) {
            if (!held) note_opening_password(password, *state.db);
            if (state.unlock_loop) note_full_unlock(password, *state.db);
            state.opened = true;
            PostMessageW(window, WM_CLOSE, 0, 0);
        } else if (rc == DB_WRONG_PASSWORD) {
            MessageBeep(MB_ICONWARNING);
            show_message(window, kWrongPasswordCaption, kWrongPassword);
            wipe_box_text(state.box);
            SetFocus(state.box);
        } else {
            refuse(state, kErrorDecryptingDatabase, state.db->last_error());
        }
    });
}

// The new master password of the change and the upgrade windows: not empty, and for
// the upgrade not the one that opens the vault now (any 1.0 copy gives that one away).
void take_new_password(WindowState& state, bool refuse_current)
{
    if (state.opened || !state.accepted) return;
    HWND window = state.window;
    run_reported(state, kErrorChangingPassword, [&] {
        SecretString password = typed_password(state.box);
        if (password.empty()) {
            refuse(state, kErrorCaption, kEmptyMasterPassword);
            return;
        }
        // Compared with the password in use, not with the file, which another program
        // may hold or have replaced at this moment.
        if (refuse_current && editor_database() &&
            editor_database()->password_equals(password.data(), length_of(password))) {
            refuse(state, kSamePasswordCaption, kSamePasswordRefused);
            return;
        }
        *state.accepted = std::move(password);
        state.opened = true;
        PostMessageW(window, WM_CLOSE, 0, 0);
    });
}

void change_password(WindowState& state)
{
    take_new_password(state, false);
}

void upgrade_password(WindowState& state)
{
    take_new_password(state, true);
}

LRESULT on_command(const WindowKind& kind, WindowState& state, int command)
{
    if (command == kind.command) kind.run_command(state);
    return 0;
}

// The strength of what the box holds, as one word under it (nothing while it is
// empty). The typed text and its copies are wiped (the estimator wipes its own).
LRESULT on_box_change(WindowState& state)
{
    if (!state.strength) return 0;
    const SecretString typed = typed_password(state.box);
    set_window_text_w(state.strength,
                      typed.empty() ? std::wstring()
                                    : to_utf16(strength_level_text(estimate_strength(typed.str()).level)));
    return 0;
}

LRESULT on_strength_colour(WindowState& state, HDC dc)
{
    SetBkColor(dc, kBandColour);
    SetTextColor(dc, RGB(0, 0, 0));
    return reinterpret_cast<LRESULT>(state.band_brush.get());
}

LRESULT on_close(WindowState& state, HWND window)
{
    // The owner gets its input back before this window goes, so that it is activated.
    if (state.owner) EnableWindow(state.owner, TRUE);
    wipe_box_text(state.box);
    DestroyWindow(state.box);
    DestroyWindow(state.button);
    DestroyWindow(window);
    return 0;
}

LRESULT on_destroy(WindowState& state)
{
    // Destroyed without WM_CLOSE (with its owner): the box goes with it.
    wipe_box_text(state.box);
    state.title_font.reset();
    state.text_font.reset();
    state.picture.reset();
    state.band_brush.reset();
    state.box = state.button = state.strength = nullptr;
    PostQuitMessage(0);
    return 0;
}

// A suspend or hibernation ends quick unlock, also while its code is asked.
LRESULT on_power_broadcast(WindowState& state, WPARAM event)
{
    if (event != PBT_APMSUSPEND) return TRUE;
    end_quick_unlock_at_suspend();
    if (state.code_length > 0) {
        std::wstring reason;
        if (state.db) quick_unlock_code_length(*state.db, reason);
        ask_for_full_password(state, reason);
    }
    return TRUE;
}

LRESULT window_proc(const WindowKind& kind, WindowState& state, HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    try {
        switch (message) {
        case WM_CREATE: return on_create(kind, state, window);
        case WM_PAINT: return on_paint(kind, state, window);
        case WM_COMMAND:
            if (HIWORD(wparam) == EN_CHANGE && reinterpret_cast<HWND>(lparam) == state.box) return on_box_change(state);
            return on_command(kind, state, LOWORD(wparam));
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lparam) == state.strength && state.band_brush)
                return on_strength_colour(state, reinterpret_cast<HDC>(wparam));
            return DefWindowProcW(window, message, wparam, lparam);
        case WM_CLOSE: return on_close(state, window);
        case WM_DESTROY: return on_destroy(state);
        case WM_POWERBROADCAST: return on_power_broadcast(state, wparam);
        case WM_ENDSESSION:
            if (wparam) end_quick_unlock(nullptr);
            return 0;
        default: return DefWindowProcW(window, message, wparam, lparam);
        }
    } catch (...) {
        // The handlers catch their own failures; nothing may unwind into the system.
        return message == WM_CREATE ? -1 : 0;
    }
}

// The password box: Tab goes to the button, Enter runs the command, Ctrl+Backspace
// empties the box.
LRESULT password_edit_proc(const WindowKind& kind, WindowState& state, HWND box, UINT message, WPARAM wparam,
                           LPARAM lparam)
{
    try {
        switch (message) {
        case WM_GETDLGCODE: return DLGC_WANTALLKEYS;
        case WM_KEYDOWN:
            if (wparam == VK_TAB) {
                SetFocus(state.button);
                return 0;
            }
            if (wparam == VK_RETURN) {
                SendMessageW(state.window, WM_COMMAND, static_cast<WPARAM>(kind.command), 0);
                return 0;
            }
            if (wparam == VK_ESCAPE && state.code_length > 0) {
                ask_for_full_password(state, L"Please enter the full master password.");
                return 0;
            }
            break;
        case WM_CHAR:
            if (wparam == '\t' || wparam == '\r' || wparam == 0x1B) return 0;
            if (is_ctrl_backspace(wparam)) {
                wipe_box_text(box);
                return 0;
            }
            break;
        default: break;
        }
        return CallWindowProcW(state.previous_box_proc, box, message, wparam, lparam);
    } catch (...) {
        return 0;
    }
}

template <const WindowKind& Kind, WindowState& State>
LRESULT CALLBACK kind_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return window_proc(Kind, State, window, message, wparam, lparam);
}

template <const WindowKind& Kind, WindowState& State>
LRESULT CALLBACK kind_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam)
{
    return password_edit_proc(Kind, State, box, message, wparam, lparam);
}

void register_window(HINSTANCE instance, const WindowKind& kind)
{
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = kind.window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    // The icon's own 16-pixel image for the caption and the taskbar.
    window_class.hIconSm =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                      GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    window_class.lpszClassName = kind.class_name;
    if (!RegisterClassExW(&window_class)) {
        show_error_box(kErrorCaptionW, kRegisterClassFailed);
    }
}

// Creates the window and runs its message loop until the window is destroyed.
// False when the window could not be created.
bool run_window(HINSTANCE instance, int show_command, const WindowKind& kind, WindowState& state)
{
    const SIZE size = scaled_window_size(kind.width, kind.height, WS_OVERLAPPEDWINDOW, false);
    HWND window = CreateWindowExW(0, kind.class_name, L"Glimkeep", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  size.cx, size.cy, state.owner, nullptr, instance, nullptr);
    if (!window) {
        show_error_box(kErrorCaptionW, kCreateWindowFailed);
        return false;
    }
    state.window = window;
    ShowWindow(window, show_command);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    state.window = nullptr;
    return true;
}

// The windows over the editor are modal over their owner: the owner takes no input
// while one runs. The class is registered at the first run; `state` is set up by the
// caller and reset afterwards. True when the window ended with success (`opened`).
bool run_owned_window(HINSTANCE instance, const WindowKind& kind, WindowState& state)
{
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExW(instance, kind.class_name, &existing)) register_window(instance, kind);
    EnableWindow(state.owner, FALSE);
    const bool created = run_window(instance, SW_SHOW, kind, state);
    if (!IsWindow(state.owner)) {
        // The owner went meanwhile (a lock when the session locked): the end of its
        // message loop was taken by this window's; its loop must end too.
        PostQuitMessage(0);
    } else {
        EnableWindow(state.owner, TRUE);
        SetForegroundWindow(state.owner);
    }
    const bool succeeded = created && state.opened;
    state = WindowState();
    return succeeded;
}

}  // namespace

void register_create_db_window(HINSTANCE instance)
{
    register_window(instance, kCreateDb);
}

void register_decrypt_db_window(HINSTANCE instance)
{
    register_window(instance, kDecryptDb);
}

void run_create_db_window(HINSTANCE instance, int show_command)
{
    g_create_db = WindowState();
    run_window(instance, show_command, kCreateDb, g_create_db);
}

bool run_decrypt_db_window(HINSTANCE instance, int show_command, Database& db, vault::Session* session)
{
    SecretString accepted;
    g_decrypt_db = WindowState();
    g_decrypt_db.db = &db;
    g_decrypt_db.opened = false;
    g_decrypt_db.accepted = &accepted;
    g_decrypt_db.unlock_loop = true;
    // Quick unlock when keys are kept for this vault; otherwise the full password, and
    // why when quick unlock just ended.
    std::wstring reason;
    const unsigned code_length = quick_unlock_code_length(db, reason);
    if (code_length > 0)
        ask_for_code(g_decrypt_db, code_length);
    else if (!reason.empty())
        set_explanation(g_decrypt_db, reason);
    const bool created = run_window(instance, show_command, kDecryptDb, g_decrypt_db);
    const bool opened = created && g_decrypt_db.opened;
    g_decrypt_db = WindowState();
    // Quick unlock leaves no password: the session then reads the vault with the keys.
    if (opened && session && !accepted.empty()) {
        try {
            session->use_password(accepted);
        } catch (...) {
            // Out of memory: the session goes on with the container's own password.
        }
    }
    return opened;
}

bool run_vault_password_window(HINSTANCE instance, HWND owner, Database& db, SecretString& accepted,
                               const wchar_t* title, const wchar_t* explanation)
{
    g_decrypt_db = WindowState();
    g_decrypt_db.db = &db;
    g_decrypt_db.owner = owner;
    g_decrypt_db.accepted = &accepted;
    g_decrypt_db.title = title;
    g_decrypt_db.explanation = explanation;
    const bool opened = run_owned_window(instance, kDecryptDb, g_decrypt_db);
    if (!opened) accepted.clear();
    return opened;
}

bool run_change_password_window(HINSTANCE instance, HWND owner, SecretString& new_password)
{
    g_change_password = WindowState();
    g_change_password.owner = owner;
    g_change_password.accepted = &new_password;
    return run_owned_window(instance, kChangePassword, g_change_password);
}

bool run_upgrade_password_window(HINSTANCE instance, HWND owner, SecretString& password)
{
    g_upgrade_password = WindowState();
    g_upgrade_password.accepted = &password;
    g_upgrade_password.owner = owner;
    return run_owned_window(instance, kUpgradePassword, g_upgrade_password);
}
