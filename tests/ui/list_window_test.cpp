// The ground floor of the list windows on real windows: what create_list_window and
// add_list_window_list make, where the list goes as the window is sized, the messages
// every list window answers alike, and the exception guard of the window procedures.

#include "ui/common/list_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/common/dpi.h"
#include "ui/common/owner_drawn_list.h"
#include "ui/common/text.h"
#include "ui/common/window_procedure.h"
#include "window_driver.h"

namespace {

constexpr std::size_t kRows = 3;

ListWindow g_parts;
std::vector<UINT> g_drawn;  // the rows drawn, in order
RECT g_band = {};  // as the last WM_SIZE placed it

int band_height()
{
    return scaled(40);
}

void draw_row(const DRAWITEMSTRUCT& item)
{
    if (begin_list_row(item, kRows)) g_drawn.push_back(item.itemID);
}

LRESULT CALLBACK test_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return dispatch_guarded([&] {
        if (message != WM_SIZE) return list_window_default(g_parts, window, message, wparam, lparam);
        g_band = place_list_window_list(g_parts, band_height(), scaled(6));
        return LRESULT{0};
    });
}

constexpr ListWindowKind kKind = {
    L"list_window_test", L"List window test", test_proc, WS_OVERLAPPEDWINDOW, 0, 400, 300, true, draw_row};

// The rectangle of `child` in the client coordinates of its parent.
RECT client_rect_of(HWND child)
{
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool same_rect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string text_of(const RECT& r)
{
    return "{" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
        std::to_string(r.bottom) + "}";
}

class ListWindowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (g_parts.window) DestroyWindow(g_parts.window);
        g_parts = ListWindow();
        g_drawn.clear();
    }

    // The test window with its label, an edit box of its own and the list.
    bool make(HWND centre_on = nullptr)
    {
        if (!create_list_window(g_parts, kKind, owner_.get(), centre_on, L"Rows & more", SS_ENDELLIPSIS)) return false;
        box_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, g_parts.window, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        return add_list_window_list(g_parts, WS_TABSTOP, {box_});
    }

    TestWindow owner_{L"STATIC", L"owner", WS_POPUP, 0, 0, 100, 100};
    HWND box_ = nullptr;
};

}  // namespace

TEST_F(ListWindowTest, MakesTheWindowItsLabelAndAListThatKeepsNoText)
{
    ASSERT_TRUE(make());
    EXPECT_EQ(GetWindow(g_parts.window, GW_OWNER), owner_.get());
    EXPECT_EQ(get_window_text_w(g_parts.window), L"List window test");
    EXPECT_NE(GetClassLongPtrW(g_parts.window, GCLP_HICON), 0u) << "the program's icon in the caption";

    EXPECT_EQ(GetParent(g_parts.label), g_parts.window);
    EXPECT_EQ(get_window_text_w(g_parts.label), L"Rows & more");
    const LONG_PTR label_style = GetWindowLongPtrW(g_parts.label, GWL_STYLE);
    EXPECT_NE(label_style & SS_NOPREFIX, 0) << "an ampersand shows as itself";
    EXPECT_EQ(label_style & SS_ELLIPSISMASK, SS_ENDELLIPSIS);

    EXPECT_EQ(GetParent(g_parts.list), g_parts.window);
    const LONG_PTR list_style = GetWindowLongPtrW(g_parts.list, GWL_STYLE);
    EXPECT_NE(list_style & LBS_OWNERDRAWFIXED, 0);
    EXPECT_EQ(list_style & LBS_HASSTRINGS, 0) << "the list keeps no text";
    EXPECT_NE(list_style & WS_TABSTOP, 0) << "the window's own list style";
    EXPECT_EQ(SendMessageW(g_parts.list, LB_GETITEMHEIGHT, 0, 0), scaled(kListWindowRowHeight));
    EXPECT_EQ(g_parts.focus, g_parts.list) << "the list takes the focus unless the window says otherwise";

    ASSERT_TRUE(g_parts.font);
    for (HWND control : {g_parts.label, g_parts.list, box_})
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), g_parts.font.get());
}

TEST_F(ListWindowTest, AMissingControlIsAFailure)
{
    ASSERT_TRUE(create_list_window(g_parts, kKind, nullptr, nullptr, L"", 0));
    EXPECT_FALSE(add_list_window_list(g_parts, 0, {nullptr}));
    EXPECT_NE(g_parts.list, nullptr) << "what was made stays for the caller to destroy";
}

TEST_F(ListWindowTest, TheListFillsTheWindowUnderTheBandAtEverySize)
{
    ASSERT_TRUE(make());
    const int margin = scaled(kListWindowMargin);
    const SIZE sizes[] = {{500, 400}, {320, 240}, {900, 260}};
    for (const SIZE& size : sizes) {
        SetWindowPos(g_parts.window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT client = {};
        GetClientRect(g_parts.window, &client);
        const std::string at = std::to_string(size.cx) + "x" + std::to_string(size.cy);
        const RECT band = {margin, margin, client.right - margin, margin + band_height()};
        EXPECT_TRUE(same_rect(g_band, band)) << at << ": band " << text_of(g_band) << ", expected " << text_of(band);
        const RECT list = {margin, band.bottom + scaled(6), client.right - margin, client.bottom - margin};
        const RECT placed = client_rect_of(g_parts.list);
        EXPECT_TRUE(same_rect(placed, list)) << at << ": list " << text_of(placed) << ", expected " << text_of(list);
    }
}

TEST_F(ListWindowTest, RowsAreDrawnByTheWindowAndTheFocusGoesWhereItSays)
{
    ASSERT_TRUE(make());
    SetWindowPos(g_parts.window, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
    set_list_rows(g_parts.list, kRows);
    ShowWindow(g_parts.window, SW_SHOWNA);
    UpdateWindow(g_parts.window);
    UpdateWindow(g_parts.list);
    for (UINT row = 0; row < kRows; ++row)
        EXPECT_NE(std::find(g_drawn.begin(), g_drawn.end(), row), g_drawn.end()) << "row " << row << " drawn";

    g_parts.focus = box_;
    SetFocus(g_parts.list);
    SendMessageW(g_parts.window, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_EQ(GetFocus(), g_parts.list) << "leaving the window moves no focus";
    SendMessageW(g_parts.window, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetFocus(), box_);
}

TEST_F(ListWindowTest, CentredOnTheMonitorOfTheWindowGiven)
{
    const TestWindow target(L"STATIC", L"target", WS_POPUP, 10, 10, 50, 50);
    ASSERT_TRUE(make(target.get()));
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(target.get(), MONITOR_DEFAULTTOPRIMARY), &monitor));
    RECT window = {};
    GetWindowRect(g_parts.window, &window);
    const RECT& work = monitor.rcWork;
    EXPECT_LE(std::abs((window.left + window.right) - (work.left + work.right)), 1) << text_of(window);
    EXPECT_LE(std::abs((window.top + window.bottom) - (work.top + work.bottom)), 1) << text_of(window);
}

namespace {

WNDPROC g_previous_box_proc = nullptr;

// A subclass that fails on every WM_SETTEXT.
LRESULT CALLBACK failing_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam)
{
    return dispatch_guarded_or(
        [&]() -> LRESULT {
            if (message == WM_SETTEXT) throw std::runtime_error("no text");
            return CallWindowProcW(g_previous_box_proc, box, message, wparam, lparam);
        },
        [&]() noexcept { return CallWindowProcW(g_previous_box_proc, box, message, wparam, lparam); });
}

}  // namespace

TEST(WindowProcedureGuard, AFailureGivesTheFailedAnswerAndNoExceptionLeaves)
{
    EXPECT_EQ(dispatch_guarded([] { return LRESULT{7}; }, -2), 7);
    EXPECT_EQ(dispatch_guarded([]() -> LRESULT { throw std::bad_alloc(); }, -2), -2);
    EXPECT_EQ(dispatch_guarded([]() -> LRESULT { throw 1; }), 0);
}

TEST(WindowProcedureGuard, ASubclassThatFailsLeavesTheMessageToTheControl)
{
    const TestWindow box(L"EDIT", L"", WS_POPUP, 0, 0, 200, 40);
    g_previous_box_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(box.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(failing_box_proc)));
    ASSERT_NE(g_previous_box_proc, nullptr);
    SetWindowTextW(box.get(), L"still set");
    EXPECT_EQ(get_window_text_w(box.get()), L"still set");
    SetWindowLongPtrW(box.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_previous_box_proc));
}
