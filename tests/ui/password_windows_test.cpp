// The first-run and open windows, created for real and driven with keys and clicks;
// each test runs in a fresh, empty working directory.
#include "ui/window_entry_points.h"

#include "db/database.h"
#include "resource.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/common/text.h"
#include "tests/support/allocation_control.h"
#include "window_driver.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <string>

namespace {

HINSTANCE instance()
{
    return GetModuleHandleW(nullptr);
}

void register_windows_once()
{
    static bool registered = false;
    if (!registered) {
        register_create_db_window(instance());
        register_decrypt_db_window(instance());
        registered = true;
    }
}

struct PasswordWindow {
    HWND window = nullptr;
    HWND box = nullptr;
    HWND button = nullptr;
    HWND strength = nullptr;  // the windows that take a new password: the level under the box
};

PasswordWindow wait_password_window(WindowDriver& d, const wchar_t* class_name)
{
    PasswordWindow found;
    found.window = d.wait_top_level(class_name);
    found.box = FindWindowExW(found.window, nullptr, L"Edit", nullptr);
    found.button = FindWindowExW(found.window, nullptr, L"Button", nullptr);
    found.strength = FindWindowExW(found.window, nullptr, L"Static", nullptr);
    if (!found.box || !found.button) d.fail("password box or button missing");
    // wait for the first paint, which places the controls
    d.wait_until([&] { return rect_in_parent(found.box).right > rect_in_parent(found.box).left; },
                 "the controls are laid out");
    return found;
}

// Reads the message dialog that is open: caption and text, then closes it with Ok.
void expect_message(WindowDriver& d, const std::string& caption, const std::string& text)
{
    HWND dialog = d.wait_dialog();
    const std::string shown_caption = narrow(window_text(dialog));
    const std::string shown_text = shown_message_text();
    d.check(shown_caption == caption, "caption \"" + shown_caption + "\", expected \"" + caption + "\"");
    d.check(shown_text == text, "text \"" + shown_text + "\", expected \"" + text + "\"");
    d.click(GetDlgItem(dialog, IDOK));
    d.wait_dialog_closed();
}

// Enter with the next allocation of the window's thread failing: the message says
// so under `caption`, and the typed password is still in the box afterwards.
void expect_out_of_memory_on_enter(WindowDriver& d, const PasswordWindow& w, const std::wstring& typed,
                                   const std::string& caption)
{
    d.type(w.box, typed);
    fail_next_allocation_on(d.ui_thread());
    d.press(w.box, VK_RETURN);
    expect_message(d, caption, "There is not enough memory to complete the operation.");
    d.check(!allocation_failure_pending(), "the allocation failure was not reached");
    d.check(window_text(w.box) == typed, "the password was lost");
}

std::wstring cue_banner(HWND box)
{
    wchar_t buffer[128] = {};
    SendMessageW(box, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(buffer), 128);
    return buffer;
}

// Status of opening the vault on disk with `password`; its text in *plaintext.
int open_vault(const std::string& password, std::string* plaintext = nullptr)
{
    Database db;
    if (int rc = db.load(kDatabaseFileName)) return 100 + rc;
    db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
    const int rc = db.decrypt();
    if (plaintext) *plaintext = db.plaintext();
    return rc;
}

bool vault_exists()
{
    return GetFileAttributesA(kDatabaseFileName) != INVALID_FILE_ATTRIBUTES;
}

// The button's caption as its own font draws it, and the average character's width.
SIZE caption_extent(HWND button, int* average_char)
{
    SIZE extent = {};
    TEXTMETRICW metrics = {};
    HDC dc = GetDC(button);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)));
    const std::wstring caption = window_text(button);
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(button, dc);
    *average_char = metrics.tmAveCharWidth;
    return extent;
}

// The button's width checked against its caption's: the whole caption fits inside
// the 3-D edge and the focus rectangle, with no more than an average character's
// space beside it on each side (or the button is of the standard 75 pixels).
// Returns the button's width.
int check_button_width(WindowDriver& d, HWND button)
{
    int average_char = 0;
    const SIZE caption = caption_extent(button, &average_char);
    const RECT rect = rect_in_parent(button);
    const int width = rect.right - rect.left;
    const int frame = 2 * (GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXFOCUSBORDER));
    const std::string measured = "button \"" + narrow(window_text(button)) + "\" " + std::to_string(width) +
        " wide, caption " + std::to_string(caption.cx) + " and frame " + std::to_string(frame);
    d.check(caption.cx > 0 && average_char > 0, "caption not measured");
    d.check(width >= caption.cx + frame, measured + ": the caption is cut");
    d.check(width <= std::max(75, static_cast<int>(caption.cx) + frame + 2 * average_char),
            measured + ": wider than its caption needs");
    return width;
}

// Layout shared by both windows: the band's controls sit 9 pixels into a band that
// reaches the bottom edge; box at 8, button as wide as its caption needs, 8 pixels
// from the right edge, the box taking the rest of the band but a gap of 8. A window
// that takes a new password has its strength line under the box, in a band 18
// pixels taller.
void check_layout(WindowDriver& d, const PasswordWindow& w)
{
    RECT client = {};
    GetClientRect(w.window, &client);
    const RECT box = rect_in_parent(w.box);
    const RECT button = rect_in_parent(w.button);
    const int button_width = check_button_width(d, w.button);
    d.check(box.left == 8 && box.right - box.left == client.right - 24 - button_width && box.bottom - box.top == 23,
            "password box placed wrongly");
    d.check(button.right == client.right - 8 && button.bottom - button.top == 23, "button placed wrongly");
    d.check(box.top == button.top, "box and button not on one line");
    const int band_top = box.top - 9;
    const int band_height = w.strength ? 39 + 18 : 39;
    d.check(band_top >= client.bottom - band_height, "band shorter than " + std::to_string(band_height) + " pixels");
    if (w.strength) {
        const RECT strength = rect_in_parent(w.strength);
        d.check(strength.left == box.left && strength.top > box.bottom && strength.bottom <= client.bottom,
                "strength line not under the box");
    }
    d.check(band_top > 40 + 32, "band reaches into the picture");
}

// What the design fixes about a password window: its outer size, the box's style
// (password, scrolling horizontally), the button, the cue banner, the focus in the
// box, and the layout above.
void check_window(WindowDriver& d, const PasswordWindow& w, SIZE size, DWORD box_style, int button_id,
                  const wchar_t* button_text, const wchar_t* cue)
{
    RECT outer = {};
    GetWindowRect(w.window, &outer);
    d.check(outer.right - outer.left == size.cx && outer.bottom - outer.top == size.cy, "window size");
    d.check(static_cast<DWORD>(GetWindowLongW(w.box, GWL_STYLE)) == box_style, "box style (scrolls horizontally)");
    d.check(GetDlgCtrlID(w.button) == button_id, "button id");
    d.check(window_text(w.button) == button_text, "button text");
    d.check(cue_banner(w.box) == cue, "cue banner " + narrow(cue_banner(w.box)));
    d.check(d.focus() == w.box, "the password box has not got the focus");
    check_layout(d, w);
}

// Runs the first-run window while `script` drives it, once it is there.
std::vector<std::string> drive_create_window(const std::function<void(WindowDriver&, const PasswordWindow&)>& script)
{
    return drive([] { run_create_db_window(instance(), SW_SHOWNORMAL); },
                 [&](WindowDriver& d) { script(d, wait_password_window(d, L"create_db")); });
}

// Runs the open window over `db` while `script` drives it, once it is there; `opened`
// receives the window's answer.
std::vector<std::string> drive_open_window(Database& db, bool& opened,
                                           const std::function<void(WindowDriver&, const PasswordWindow&)>& script)
{
    return drive([&] { opened = run_decrypt_db_window(instance(), SW_SHOWNORMAL, db); },
                 [&](WindowDriver& d) { script(d, wait_password_window(d, L"decrypt_db")); });
}

class PasswordWindows : public ::testing::Test {
protected:
    void SetUp() override { register_windows_once(); }
    TempWorkingDir directory_;
};

}  // namespace

TEST_F(PasswordWindows, CreateRefusesAnEmptyPasswordThenWritesAVaultThatOpens)
{
    auto failures = drive_create_window([](WindowDriver& d, const PasswordWindow& w) {
        d.check(window_text(w.window) == L"Glimkeep", "window title");
        check_window(d, w, {470, 208}, 0x50011080u, IDC_CREATE_DB, L"Create database", L"Enter master password");
        d.check(w.strength != nullptr && window_text(w.strength).empty(), "no strength for an empty box");

        d.press(w.box, VK_RETURN);
        expect_message(d, "Error", "The master password is empty.");
        d.check(!vault_exists(), "a vault was written for an empty password");
        d.check(d.focus() == w.box, "focus not back in the password box");

        d.type(w.box, L"correct horse");
        d.check(window_text(w.box) == L"correct horse", "typed text " + narrow(window_text(w.box)));
        d.check(window_text(w.strength) == L"weak", "strength " + narrow(window_text(w.strength)));
        d.press(w.box, VK_RETURN);
        expect_message(d, "Database successfully created",
                       "The database file has been created. You can now open and edit it.");
    });
    EXPECT_TRUE(failures.empty()) << join(failures);
    EXPECT_EQ(FindWindowW(L"create_db", nullptr), nullptr) << "the window did not close";
    EXPECT_EQ(read_file(kDatabaseFileName).size(), format_v2::kHeaderSize);  // a new vault is of format 2.0
    std::string plaintext = "not empty";
    EXPECT_EQ(open_vault("correct horse", &plaintext), DB_OK);
    EXPECT_EQ(plaintext, "");
    EXPECT_EQ(open_vault("correct horsE"), DB_WRONG_PASSWORD);
}

TEST_F(PasswordWindows, ThePasswordIsStoredAsUtf8)
{
    // U+00E4, U+20AC and U+1F511 (a surrogate pair) through the button, not Enter
    const std::wstring typed = {L'p', 0x00E4, 0x20AC, 0xD83D, 0xDD11};
    auto failures = drive_create_window([&](WindowDriver& d, const PasswordWindow& w) {
        d.type(w.box, typed);
        d.click(w.button);
        expect_message(d, "Database successfully created",
                       "The database file has been created. You can now open and edit it.");
    });
    EXPECT_TRUE(failures.empty()) << join(failures);
    EXPECT_EQ(open_vault("p\xC3\xA4\xE2\x82\xAC\xF0\x9F\x94\x91"), DB_OK);
}

TEST_F(PasswordWindows, PasswordBoxKeys)
{
    auto failures = drive_create_window([](WindowDriver& d, const PasswordWindow& w) {
        d.type(w.box, L"some words here");
        d.press(w.box, VK_TAB);
        d.check(d.focus() == w.button, "Tab did not move to the button");
        d.check(window_text(w.box) == L"some words here", "Tab changed the text");
        d.press(w.button, VK_TAB);
        d.check(d.focus() == w.box, "Tab from the button did not come back");
        // Ctrl+Backspace types 0x7F: the whole box is emptied
        PostMessageW(w.box, WM_CHAR, 0x7F, 1);
        d.settle();
        d.check(window_text(w.box).empty(), "Ctrl+Backspace left " + narrow(window_text(w.box)));
        d.check(!vault_exists(), "a vault was written");
        PostMessageW(w.window, WM_CLOSE, 0, 0);
    });
    EXPECT_TRUE(failures.empty()) << join(failures);
    EXPECT_FALSE(vault_exists());
}

namespace {

// Bottom of the first-run explanation as painted in a client area `width` wide.
int explanation_bottom(int width)
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 504;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 504, &metrics, 0);
    metrics.lfMessageFont.lfHeight = 16;
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    RECT rect = {32 + 20, 35, width - 5, 1000};
    DrawTextW(dc,
              L"No database file found. To setup a new one, please provide the master password that will be "
              L"used for the encryption of the database. It is very important to remember it as you will "
              L"always have to enter it to access the stored passwords.",
              -1, &rect, DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return rect.bottom;
}

}  // namespace

TEST_F(PasswordWindows, TheBandFollowsTheBottomEdgeButNeverCoversTheText)
{
    auto failures = drive_create_window([](WindowDriver& d, const PasswordWindow& w) {
        struct Size {
            int width, height;
        };
        for (const Size size : {Size{700, 420}, Size{330, 190}, Size{470, 190}}) {
            const std::string name = std::to_string(size.width) + "x" + std::to_string(size.height);
            SetWindowPos(w.window, nullptr, 0, 0, size.width, size.height, SWP_NOMOVE | SWP_NOZORDER);
            RECT client = {};
            GetClientRect(w.window, &client);
            const int band_top =
                std::max(explanation_bottom(client.right) + 12, static_cast<int>(client.bottom) - 39 - 18);
            // The paint moves the box first and the button after it: wait for both.
            const int button_width = check_button_width(d, w.button);
            d.wait_until(
                [&] {
                    const RECT box = rect_in_parent(w.box);
                    return box.top == band_top + 9 && box.right - box.left == client.right - 24 - button_width;
                },
                name + ": password box at the band (expected top " + std::to_string(band_top + 9) + ")", 5000);
            d.wait_until(
                [&] {
                    const RECT button = rect_in_parent(w.button);
                    return button.top == band_top + 9 && button.left == client.right - 8 - button_width;
                },
                name + ": button beside the box", 5000);
        }
        PostMessageW(w.window, WM_CLOSE, 0, 0);
    });
    EXPECT_TRUE(failures.empty()) << join(failures);
}

TEST_F(PasswordWindows, CreateReportsASaveFailureAndKeepsThePassword)
{
    // a folder in the vault's place cannot be opened for writing
    ASSERT_TRUE(CreateDirectoryA(kDatabaseFileName, nullptr));
    auto failures = drive_create_window([](WindowDriver& d, const PasswordWindow& w) {
        d.type(w.box, L"secret");
        d.press(w.box, VK_RETURN);
        HWND dialog = d.wait_dialog();
        d.check(narrow(window_text(dialog)) == "Error creating database", "caption " + narrow(window_text(dialog)));
        d.check(!shown_message_text().empty(), "no reason given");
        d.click(GetDlgItem(dialog, IDOK));
        d.wait_dialog_closed();
        d.check(IsWindowVisible(w.window) != FALSE, "the window closed");
        d.check(window_text(w.box) == L"secret", "the password was lost");
        d.check(d.focus() == w.box, "focus not back in the password box");
        PostMessageW(w.window, WM_CLOSE, 0, 0);
    });
    EXPECT_TRUE(failures.empty()) << join(failures);
}

TEST_F(PasswordWindows, CreateSurvivesRunningOutOfMemory)
{
    auto failures = drive_create_window([](WindowDriver& d, const PasswordWindow& w) {
        expect_out_of_memory_on_enter(d, w, L"secret", "Error creating database");
        // still usable
        d.press(w.box, VK_RETURN);
        expect_message(d, "Database successfully created",
                       "The database file has been created. You can now open and edit it.");
    });
    fail_next_allocation_on(0);
    EXPECT_TRUE(failures.empty()) << join(failures);
    EXPECT_EQ(open_vault("secret"), DB_OK);
}

TEST_F(PasswordWindows, OpenAnswersAWrongPasswordAndThenOpensWithTheRightOne)
{
    const std::string plaintext = "mail\r\n\tuser: me\r\n\tpassword: 123\r\n";
    ASSERT_TRUE(write_vault(plaintext, "right", format_v2::kIterations));
    const std::string file = read_file(kDatabaseFileName);
    Database db;
    ASSERT_EQ(db.load(kDatabaseFileName), DB_OK);
    bool opened = false;
    auto failures = drive_open_window(db, opened, [&](WindowDriver& d, const PasswordWindow& w) {
        check_window(d, w, {413, 162}, 0x500110A0u, IDC_OPEN_DB, L"Open database", L"Enter database password");

        // an empty password is a password like any other
        d.press(w.box, VK_RETURN);
        expect_message(d, "Wrong password", "The given password is wrong. Please try again.");

        d.type(w.box, L"wrong");
        d.press(w.box, VK_RETURN);
        expect_message(d, "Wrong password", "The given password is wrong. Please try again.");
        d.check(window_text(w.box).empty(), "box not emptied: " + narrow(window_text(w.box)));
        d.check(d.focus() == w.box, "focus not back in the password box");
        d.check(IsWindowVisible(w.window) != FALSE, "the window closed");
        // the ciphertext is as loaded (the test thread is idle in its loop)
        d.check(!db.decrypted() && db.data_length() == file.size() - format_v2::kHeaderSize &&
                    std::string(reinterpret_cast<const char*>(db.data()), db.data_length()) ==
                        file.substr(format_v2::kHeaderSize),
                "the ciphertext changed");

        d.type(w.box, L"right");
        d.click(w.button);
    });
    EXPECT_TRUE(failures.empty()) << join(failures);
    EXPECT_TRUE(opened);
    EXPECT_EQ(db.plaintext(), plaintext);
    EXPECT_EQ(FindWindowW(L"decrypt_db", nullptr), nullptr);
}

namespace {

// Counts the dialogs created on this thread, however briefly they live.
int g_dialogs_created = 0;

LRESULT CALLBACK count_dialogs(int code, WPARAM wparam, LPARAM lparam)
{
    if (code == HCBT_CREATEWND && class_of(reinterpret_cast<HWND>(wparam)) == L"#32770") ++g_dialogs_created;
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

TEST_F(PasswordWindows, OpenIgnoresASecondPressAfterSuccess)
{
    ASSERT_TRUE(write_vault("x", "pw", format_v2::kIterations));
    Database db;
    ASSERT_EQ(db.load(kDatabaseFileName), DB_OK);
    bool opened = false;
    g_dialogs_created = 0;
    HHOOK hook = SetWindowsHookExW(WH_CBT, count_dialogs, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    auto failures = drive_open_window(db, opened, [&](WindowDriver& d, const PasswordWindow& w) {
        d.type(w.box, L"pw");
        // all presses are queued before the first is handled; the window's close comes after them
        PostMessageW(w.box, WM_KEYDOWN, VK_RETURN, 1);
        PostMessageW(w.box, WM_KEYDOWN, VK_RETURN, 1);
        PostMessageW(w.window, WM_COMMAND, IDC_OPEN_DB, 0);
    });
    UnhookWindowsHookEx(hook);
    EXPECT_TRUE(failures.empty()) << join(failures);
    EXPECT_TRUE(opened);
    EXPECT_EQ(db.plaintext(), "x");
    EXPECT_EQ(g_dialogs_created, 0) << "a message was shown after the vault had been opened";
}

TEST_F(PasswordWindows, OpenShowsOtherFailuresAndKeepsTheText)
{
    Database db;  // holds plaintext already: decrypting it fails without a wrong password
    db.set_plaintext("abc", 3);
    bool opened = true;
    auto failures = drive_open_window(db, opened, [&](WindowDriver& d, const PasswordWindow& w) {
        d.type(w.box, L"typed");
        d.press(w.box, VK_RETURN);
        expect_message(d, "Could not decrypt database", "The file is already decrypted");
        d.check(window_text(w.box) == L"typed", "the box lost its text");
        d.check(d.focus() == w.box, "focus not back in the password box");
        PostMessageW(w.window, WM_CLOSE, 0, 0);
    });
    EXPECT_TRUE(failures.empty()) << join(failures);
    EXPECT_FALSE(opened) << "closing without success must answer false";
}

TEST_F(PasswordWindows, OpenSurvivesRunningOutOfMemory)
{
    ASSERT_TRUE(write_vault("data", "pw", format_v2::kIterations));
    Database db;
    ASSERT_EQ(db.load(kDatabaseFileName), DB_OK);
    bool opened = false;
    auto failures = drive_open_window(db, opened, [&](WindowDriver& d, const PasswordWindow& w) {
        expect_out_of_memory_on_enter(d, w, L"pw", "Could not decrypt database");
        d.press(w.box, VK_RETURN);
    });
    fail_next_allocation_on(0);
    EXPECT_TRUE(failures.empty()) << join(failures);
    EXPECT_TRUE(opened);
    EXPECT_EQ(db.plaintext(), "data");
}

TEST_F(PasswordWindows, OpenCanRunAgainAfterClosing)
{
    ASSERT_TRUE(write_vault("again", "pw", format_v2::kIterations));
    for (int round = 0; round < 2; ++round) {
        Database db;
        ASSERT_EQ(db.load(kDatabaseFileName), DB_OK);
        bool opened = false;
        auto failures = drive_open_window(db, opened, [&](WindowDriver& d, const PasswordWindow& w) {
            d.type(w.box, L"pw");
            d.press(w.box, VK_RETURN);
        });
        EXPECT_TRUE(failures.empty()) << "round " << round << ": " << join(failures);
        EXPECT_TRUE(opened);
        EXPECT_EQ(db.plaintext(), "again");
    }
}
