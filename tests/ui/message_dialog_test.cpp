// The message dialog, shown for real and answered with keys, clicks and the close box.
#include "ui/dialogs/message_dialog.h"

#include "resource.h"
#include "ui/common/text.h"
#include "window_driver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The message font at 16 pixels, as the dialog makes it.
HFONT message_font()
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 504;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 504, &metrics, 0);
    metrics.lfMessageFont.lfHeight = 16;
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

// Height of `text` word-wrapped at `width` pixels in that font.
int wrapped_height(const std::string& text, int width)
{
    std::wstring wide = to_utf16(text);
    HDC dc = GetDC(nullptr);
    HFONT font = message_font();
    HGDIOBJ old = SelectObject(dc, font);
    RECT rect = {0, 0, width, 0};
    DrawTextExW(dc, &wide[0], -1, &rect, DT_CALCRECT | DT_WORDBREAK, nullptr);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return rect.bottom;
}

// A plain top-level window to own the dialog, at a known place.
struct Owner : TestWindow {
    Owner() : TestWindow(L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 117, 93, 613, 411) {}
};

struct Buttons {
    HWND ok = nullptr, yes = nullptr, no = nullptr;
    int count = 0;
};

Buttons buttons_of(HWND dialog)
{
    Buttons found;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        ++found.count;
        switch (GetDlgCtrlID(child)) {
        case IDOK: found.ok = child; break;
        case IDYES: found.yes = child; break;
        case IDNO: found.no = child; break;
        default: break;
        }
    }
    return found;
}

std::string describe(const RECT& r)
{
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
        std::to_string(r.bottom) + ")";
}

// Checks the button's place: 80 x 23, 9 pixels into the band, `from_right` pixels
// from the client area's right edge to its left side.
void check_button(WindowDriver& d, HWND dialog, HWND button, int from_right, const std::string& name)
{
    d.check(button != nullptr, name + " button missing");
    if (!button) return;
    RECT client = {};
    GetClientRect(dialog, &client);
    const RECT r = rect_in_parent(button);
    const RECT expected = {client.right - from_right, client.bottom - 39 + 9, client.right - from_right + 80,
                           client.bottom - 39 + 9 + 23};
    d.check(EqualRect(&r, &expected) != FALSE, name + " button at " + describe(r) + ", expected " + describe(expected));
}

// The dialog is 350 wide, as high as its text plus 105, centred on `centre_on`.
void check_geometry(WindowDriver& d, HWND dialog, HWND centre_on, const std::string& text)
{
    RECT owner = {}, rect = {};
    GetWindowRect(centre_on, &owner);
    GetWindowRect(dialog, &rect);
    const int height = wrapped_height(text, 346) + 105;
    d.check(rect.right - rect.left == 350, "width " + std::to_string(rect.right - rect.left));
    d.check(rect.bottom - rect.top == height,
            "height " + std::to_string(rect.bottom - rect.top) + ", expected " + std::to_string(height));
    d.check(rect.left == (owner.left + owner.right) / 2 - 175,
            "left " + std::to_string(rect.left) + " for owner " + describe(owner));
    d.check(rect.top == (owner.top + owner.bottom) / 2 - height / 2,
            "top " + std::to_string(rect.top) + " for owner " + describe(owner));
}

// Shows a yes/no question and answers it with `answer`; returns the result.
bool answer_question(const std::function<void(WindowDriver&, HWND dialog, const Buttons&)>& answer,
                     std::vector<std::string>* failures)
{
    Owner owner;
    bool result = true;
    *failures = drive([&] { result = ask_yes_no(owner.get(), "Exit", "Do you really want to exit?"); },
                      [&](WindowDriver& d) {
                          HWND dialog = d.wait_dialog();
                          answer(d, dialog, buttons_of(dialog));
                          d.wait_dialog_closed();
                      });
    return result;
}

// The caption shows the program's icon, both sizes (shared icons: loading one again
// gives the same handle), not the system's default.
void check_icons(WindowDriver& d, HWND dialog)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const auto big = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0));
    const auto small = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0));
    d.check(big != nullptr && big == LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP)), "large icon is not the program's");
    d.check(small != nullptr &&
                small ==
                    LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                               GetSystemMetrics(SM_CYSMICON), LR_SHARED),
            "small icon is not the program's");
}

}  // namespace

TEST(MessageDialog, ShortMessageHasOneOkButtonAndIsCentredOnItsOwner)
{
    Owner owner;
    const std::string text = "The database file has been saved.";
    auto failures =
        drive([&] { show_message(owner.get(), "Saved", text); },
              [&](WindowDriver& d) {
                  HWND dialog = d.wait_dialog();
                  d.check(narrow(window_text(dialog)) == "Saved", "caption " + narrow(window_text(dialog)));
                  d.check(shown_message_text() == text, "text " + shown_message_text());
                  d.check(GetParent(dialog) == owner.get(), "not owned by the window given");
                  d.check(!IsWindowEnabled(owner.get()), "owner stays enabled while the dialog is open");
                  d.check((GetWindowLongW(dialog, GWL_STYLE) & 0x80C80000) == 0x80C80000, "style of the template");
                  check_geometry(d, dialog, owner.get(), text);
                  check_icons(d, dialog);
                  const Buttons buttons = buttons_of(dialog);
                  d.check(buttons.count == 1, "children: " + std::to_string(buttons.count));
                  check_button(d, dialog, buttons.ok, 88, "Ok");
                  d.check(narrow(window_text(buttons.ok)) == "Ok", "label " + narrow(window_text(buttons.ok)));
                  d.check(d.focus() == buttons.ok, "Ok does not hold the focus");
                  d.press(d.focus(), VK_RETURN);
                  d.wait_dialog_closed();
                  d.check(IsWindowEnabled(owner.get()) != FALSE, "owner not enabled again");
              });
    EXPECT_TRUE(failures.empty()) << join(failures);
    EXPECT_EQ(shown_message_text(), "");
}

TEST(MessageDialog, LongTextMakesTheDialogTallerAndStaysReadable)
{
    Owner owner;
    std::string text;
    for (int i = 0; i < 25; ++i) {
        text += "Line " + std::to_string(i) +
            ": a sentence long enough to wrap once it meets the edge of the "
            "dialog.\r\n";
    }
    auto failures = drive(
        [&] { show_message(owner.get(), "Information and usage", text); },
        [&](WindowDriver& d) {
            HWND dialog = d.wait_dialog();
            RECT rect = {}, client = {};
            GetWindowRect(dialog, &rect);
            GetClientRect(dialog, &client);
            const int measured = wrapped_height(text, 346);
            d.check(measured > 25 * 16, "the text should wrap: " + std::to_string(measured));
            d.check(rect.right - rect.left == 350, "width " + std::to_string(rect.right - rect.left));
            d.check(rect.bottom - rect.top >= measured + 105, "height " + std::to_string(rect.bottom - rect.top));
            // every line of the text, as drawn between 8 and client.right - 4, ends above the band
            const int drawn = wrapped_height(text, client.right - 12);
            d.check(8 + drawn <= client.bottom - 39,
                    "text reaches " + std::to_string(8 + drawn) + ", band at " + std::to_string(client.bottom - 39));
            const int height = rect.bottom - rect.top;
            RECT owner_rect = {};
            GetWindowRect(owner.get(), &owner_rect);
            d.check(rect.top == (owner_rect.top + owner_rect.bottom) / 2 - height / 2, "not centred vertically");
            check_button(d, dialog, buttons_of(dialog).ok, 88, "Ok");
            d.press(d.focus(), VK_ESCAPE);
            d.wait_dialog_closed();
        });
    EXPECT_TRUE(failures.empty()) << join(failures);
}

TEST(MessageDialog, WithoutOwnerItCentresOnTheDesktop)
{
    const std::string text = "No owner.";
    auto failures =
        drive([&] { show_message(nullptr, "Caption \xC3\xA4\xE2\x82\xAC", text); },
              [&](WindowDriver& d) {
                  HWND dialog = d.wait_dialog();
                  check_geometry(d, dialog, GetDesktopWindow(), text);
                  d.check(narrow(window_text(dialog)) == "Caption \xC3\xA4\xE2\x82\xAC", "caption not UTF-8 decoded");
                  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
                  d.wait_dialog_closed();
              });
    EXPECT_TRUE(failures.empty()) << join(failures);
}

TEST(MessageDialog, OkClosesOnEscapeAndOnTheCloseBoxToo)
{
    Owner owner;
    auto failures = drive(
        [&] {
            show_message(owner.get(), "One", "Escape");
            show_message(owner.get(), "Two", "Close box");
            show_message(owner.get(), "Three", "Click");
        },
        [&](WindowDriver& d) {
            HWND dialog = d.wait_dialog();
            d.press(d.focus(), VK_ESCAPE);
            d.wait_until([&] { return d.find_dialog() != dialog; }, "the first dialog closed");
            dialog = d.wait_dialog();
            d.check(narrow(window_text(dialog)) == "Two", "second caption");
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            d.wait_until([&] { return d.find_dialog() != dialog; }, "the second dialog closed");
            dialog = d.wait_dialog();
            d.click(buttons_of(dialog).ok);
            d.wait_dialog_closed();
        });
    EXPECT_TRUE(failures.empty()) << join(failures);
}

TEST(MessageDialog, QuestionShowsYesAndNoWithNoFocused)
{
    std::vector<std::string> failures;
    const bool result = answer_question(
        [](WindowDriver& d, HWND dialog, const Buttons& buttons) {
            d.check(buttons.count == 2 && !buttons.ok, "children: " + std::to_string(buttons.count));
            check_button(d, dialog, buttons.yes, 176, "Yes");
            check_button(d, dialog, buttons.no, 88, "No");
            d.check(narrow(window_text(buttons.yes)) == "Yes", "label " + narrow(window_text(buttons.yes)));
            d.check(narrow(window_text(buttons.no)) == "No", "label " + narrow(window_text(buttons.no)));
            d.check(narrow(window_text(dialog)) == "Exit", "caption " + narrow(window_text(dialog)));
            check_icons(d, dialog);
            d.check(d.focus() == buttons.no, "No does not hold the focus");
            d.press(d.focus(), VK_RETURN);
        },
        &failures);
    EXPECT_TRUE(failures.empty()) << join(failures);
    EXPECT_FALSE(result) << "Enter right after the question opened must answer No";
}

TEST(MessageDialog, QuestionAnswers)
{
    struct Case {
        const char* name;
        std::function<void(WindowDriver&, HWND, const Buttons&)> answer;
        bool expected;
    };
    const Case cases[] = {
        {"Escape", [](WindowDriver& d, HWND, const Buttons&) { d.press(d.focus(), VK_ESCAPE); }, false},
        {"close box",
         [](WindowDriver&, HWND dialog, const Buttons&) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }, false},
        {"click No", [](WindowDriver& d, HWND, const Buttons& b) { d.click(b.no); }, false},
        {"click Yes", [](WindowDriver& d, HWND, const Buttons& b) { d.click(b.yes); }, true},
        {"Tab to Yes, then Enter",
         [](WindowDriver& d, HWND, const Buttons& b) {
             d.press(d.focus(), VK_TAB);
             d.check(d.focus() == b.yes, "Tab did not reach Yes");
             d.press(d.focus(), VK_RETURN);
         },
         true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> failures;
        const bool result = answer_question(c.answer, &failures);
        EXPECT_TRUE(failures.empty()) << c.name << ": " << join(failures);
        EXPECT_EQ(result, c.expected) << c.name;
    }
}

TEST(MessageDialog, AnAnswerDoesNotCarryOverToTheNextQuestion)
{
    std::vector<std::string> failures;
    ASSERT_TRUE(answer_question([](WindowDriver& d, HWND, const Buttons& b) { d.click(b.yes); }, &failures));
    EXPECT_FALSE(
        answer_question([](WindowDriver& d, HWND, const Buttons&) { d.press(d.focus(), VK_ESCAPE); }, &failures));
    EXPECT_TRUE(failures.empty()) << join(failures);
}
