// The program's message dialog: an empty template (209) that sizes itself to its
// text, centres itself on its owner, paints a grey band and creates its own buttons.
#include "ui/dialogs/message_dialog.h"

#include "resource.h"
#include "ui/common/dpi.h"
#include "ui/common/gdi.h"
#include "ui/common/text.h"

#include <utility>

namespace {

constexpr int kDialogWidth = 350;
constexpr int kMeasureWidth = 346;  // width the text is wrapped at for the height
constexpr int kHeightOverText = 105;  // caption, margins and band around the text
constexpr int kTextMargin = 8;  // left and top margin of the text
constexpr int kBandHeight = 39;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 23;
constexpr int kButtonTop = 9;  // below the band's top edge

// Module state shared by the entry points and the dialog procedure: one dialog at a time.
std::string g_caption;
std::wstring g_text;
bool g_yes_no = false;
bool g_answer = false;
Font g_font;
HWND g_ok = nullptr;
HWND g_yes = nullptr;
HWND g_no = nullptr;
RECT g_measure = {};

// Height of the text word-wrapped at `width` pixels in the dialog font.
int measure_text(HWND dialog, int width, RECT* measured)
{
    RECT rect = {0, 0, width, 0};
    if (HDC dc = GetDC(dialog)) {
        {
            const SelectInScope select_font(dc, g_font.get());
            DrawTextExW(dc, const_cast<wchar_t*>(g_text.c_str()), -1, &rect, DT_CALCRECT | DT_WORDBREAK, nullptr);
        }
        ReleaseDC(dialog, dc);
    }
    if (measured) *measured = rect;
    return rect.bottom - rect.top;
}

HWND create_button(HWND dialog, const wchar_t* label, int id)
{
    return CreateWindowExW(0, L"BUTTON", label, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0, 0,
                           dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                           nullptr);
}

INT_PTR on_init_dialog(HWND dialog)
{
    g_font.reset(create_message_font(scaled(16)));

    HWND centre_on = GetParent(dialog);
    if (!centre_on) centre_on = GetDesktopWindow();
    RECT owner = {};
    GetWindowRect(centre_on, &owner);

    const int dialog_width = scaled(kDialogWidth);
    measure_text(dialog, scaled(kMeasureWidth), &g_measure);
    int height = g_measure.bottom + scaled(kHeightOverText);
    const int x = (owner.left + owner.right) / 2 - dialog_width / 2;
    MoveWindow(dialog, x, (owner.top + owner.bottom) / 2 - height / 2, dialog_width, height, TRUE);

    // The text is drawn narrower than it is measured (the frame takes its share of
    // the 350 pixels), so a long text can need more lines than the height above
    // allows. Grow the dialog rather than hide its last lines under the band.
    RECT client = {};
    GetClientRect(dialog, &client);
    const int drawn = measure_text(dialog, client.right - scaled(4) - scaled(kTextMargin), nullptr);
    const int needed = scaled(kTextMargin) + drawn + scaled(kTextMargin) + scaled(kBandHeight);
    if (needed > client.bottom) {
        height += needed - client.bottom;
        MoveWindow(dialog, x, (owner.top + owner.bottom) / 2 - height / 2, dialog_width, height, TRUE);
    }

    set_window_text(dialog, g_caption);
    // The program's icon in the caption, as on its other windows: a dialog has none
    // of its own and would show the system's. LoadIcon's icons are shared, never freed.
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (const HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP))) {
        SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    }
    if (const auto small =
            static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED))) {
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    }

    g_ok = g_yes = g_no = nullptr;
    if (g_yes_no) {
        // "No" first: it is the first tab stop and so takes the initial focus.
        g_no = create_button(dialog, L"No", IDNO);
        g_yes = create_button(dialog, L"Yes", IDYES);
        SendMessageW(g_yes, WM_SETFONT, reinterpret_cast<WPARAM>(g_font.get()), TRUE);
        SendMessageW(g_no, WM_SETFONT, reinterpret_cast<WPARAM>(g_font.get()), TRUE);
    } else {
        g_ok = create_button(dialog, L"Ok", IDOK);
        SendMessageW(g_ok, WM_SETFONT, reinterpret_cast<WPARAM>(g_font.get()), TRUE);
    }
    return TRUE;  // the dialog manager focuses the first tab stop
}

// The text over the grey band, and the buttons placed on the band.
void paint_contents(HDC dc, const RECT& client)
{
    const SelectInScope select_font(dc, g_font.get());
    const RECT band = {0, client.bottom - scaled(kBandHeight), client.right, client.bottom};

    // The background is not erased (that would flicker under the band); the text
    // area takes the device context's background colour instead.
    const RECT above = {0, 0, client.right, band.top};
    if (const Brush background{CreateSolidBrush(GetBkColor(dc))}) FillRect(dc, &above, background.get());

    RECT text = {scaled(kTextMargin), scaled(kTextMargin), client.right - scaled(4), client.bottom};
    DrawTextExW(dc, const_cast<wchar_t*>(g_text.c_str()), -1, &text, DT_WORDBREAK, nullptr);

    paint_band(dc, band);

    const int top = band.top + scaled(kButtonTop);
    const int button_width = scaled(kButtonWidth);
    const int button_height = scaled(kButtonHeight);
    if (g_yes_no) {
        MoveWindow(g_yes, client.right - scaled(176), top, button_width, button_height, TRUE);
        MoveWindow(g_no, client.right - scaled(88), top, button_width, button_height, TRUE);
    } else {
        MoveWindow(g_ok, client.right - scaled(88), top, button_width, button_height, TRUE);
    }
}

INT_PTR on_paint(HWND dialog)
{
    RECT client = {};
    GetClientRect(dialog, &client);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    if (!dc) return TRUE;
    paint_contents(dc, client);
    EndPaint(dialog, &paint);
    return TRUE;
}

INT_PTR on_command(HWND dialog, int command)
{
    switch (command) {
    case IDOK: break;
    case IDCANCEL:
    case IDNO: g_answer = false; break;
    case IDYES: g_answer = true; break;
    default: return FALSE;
    }
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    return TRUE;
}

INT_PTR on_close(HWND dialog)
{
    EndDialog(dialog, 0);
    g_font.reset();  // the buttons go with the dialog
    return TRUE;
}

// Shared by show_message and ask_yes_no. The text lives only for the call.
void run_dialog(HWND owner, std::string caption, const std::string& text)
{
    g_caption = std::move(caption);
    g_text = to_utf16(text);
    const INT_PTR result =
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MESSAGE), owner, message_dialog_proc, 0);
    g_font.reset();  // in case the dialog ended without WM_CLOSE
    if (result == -1) {
        // The dialog could not be created: the message must still reach the user.
        const std::wstring wide_caption = to_utf16(g_caption);
        const UINT style = g_yes_no ? MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION : MB_OK;
        g_answer = MessageBoxW(owner, g_text.c_str(), wide_caption.c_str(), style) == IDYES && g_yes_no;
    }
    std::wstring().swap(g_text);
}

}  // namespace

void show_message(HWND owner, std::string caption, std::string text)
{
    g_yes_no = false;
    run_dialog(owner, std::move(caption), text);
}

bool ask_yes_no(HWND owner, std::string caption, std::string text)
{
    g_yes_no = true;
    g_answer = false;
    run_dialog(owner, std::move(caption), text);
    return g_answer;
}

std::string shown_message_text()
{
    return to_narrow(g_text);
}

void show_error_box(std::string caption, std::string text)
{
    const std::wstring wide_caption = to_utf16(caption);
    const std::wstring wide_text = to_utf16(text);
    show_error_box(wide_caption.c_str(), wide_text.c_str());
}

void show_error_box(const wchar_t* caption, const wchar_t* text) noexcept
{
    MessageBoxW(nullptr, text, caption, MB_ICONWARNING);
}

INT_PTR CALLBACK message_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    try {
        switch (message) {
        case WM_INITDIALOG: return on_init_dialog(dialog);
        case WM_PAINT: return on_paint(dialog);
        case WM_ERASEBKGND: return TRUE;
        case WM_COMMAND: return on_command(dialog, LOWORD(wparam));
        case WM_CLOSE: return on_close(dialog);
        default: return FALSE;
        }
    } catch (...) {
        // Out of memory while setting the caption: the dialog still answers, and an
        // exception must not unwind through the system's dialog manager.
        return FALSE;
    }
}
