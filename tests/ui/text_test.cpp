// The UTF-8/UTF-16 crossing and the window-text helpers, through real edit controls.
#include "ui/common/text.h"
#include "tests/support/hex.h"
#include "window_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// A real edit control (single line or multi-line), destroyed with the test.
struct EditControl : TestWindow {
    explicit EditControl(DWORD style = 0) : TestWindow(L"EDIT", L"", WS_POPUP | style, 0, 0, 300, 200) {}
};

// Grinning face U+1F600 and musical symbol G clef U+1D11E (surrogate pairs), German
// umlauts and sharp s (two bytes), Japanese (three bytes).
const std::string kMixed = "Gr\xC3\xBC\xC3\x9F\x65 \xF0\x9F\x98\x80 \xF0\x9D\x84\x9E \xE6\x97\xA5\xE6\x9C\xAC";

}  // namespace

TEST(TextConversion, EmptyStaysEmpty)
{
    EXPECT_TRUE(to_utf16("").empty());
    EXPECT_TRUE(to_narrow(L"").empty());
}

TEST(TextConversion, KnownCodeUnits)
{
    // U+1F600 is D83D DE00 in UTF-16 (The Unicode Standard, 3.9, D91).
    const std::wstring expected = {L'G',   L'r', 0x00FC, 0x00DF, L'e', L' ',   0xD83D,
                                   0xDE00, L' ', 0xD834, 0xDD1E, L' ', 0x65E5, 0x672C};
    const std::wstring wide = to_utf16(kMixed);
    EXPECT_EQ(wide, expected) << to_hex(wide) << "\nexpected " << to_hex(expected);
    const std::string back = to_narrow(wide);
    EXPECT_EQ(back, kMixed) << to_hex(back) << "\nexpected " << to_hex(kMixed);
}

TEST(TextConversion, ZeroBytesAreConvertedInFull)
{
    const std::string with_zero("a\0b", 3);
    const std::wstring wide = to_utf16(with_zero);
    ASSERT_EQ(wide.size(), 3u) << to_hex(wide);
    EXPECT_EQ(wide[1], L'\0');
    EXPECT_EQ(to_narrow(wide), with_zero);
}

TEST(TextConversion, IllFormedInputBecomesReplacementCharacters)
{
    // a lone continuation byte, a byte that never occurs in UTF-8, a lead byte
    // followed by an ASCII character
    const std::wstring wide = to_utf16(std::string("a\x80"
                                                   "b\xFF"
                                                   "c\xC3"
                                                   "d"));
    const std::wstring expected = {L'a', 0xFFFD, L'b', 0xFFFD, L'c', 0xFFFD, L'd'};
    EXPECT_EQ(wide, expected) << to_hex(wide) << "\nexpected " << to_hex(expected);

    // unpaired surrogates in both orders
    const std::string narrow = to_narrow(std::wstring{L'x', 0xD800, L'y', 0xDC00});
    const std::string expected_narrow = "x\xEF\xBF\xBDy\xEF\xBF\xBD";
    EXPECT_EQ(narrow, expected_narrow) << to_hex(narrow) << "\nexpected " << to_hex(expected_narrow);
}

TEST(TextConversion, LongTextRoundTrip)
{
    std::string text;
    for (int i = 0; i < 20000; ++i) text += kMixed + "\r\n";
    EXPECT_EQ(to_narrow(to_utf16(text)), text);
}

TEST(WindowText, EmptyWindowReadsEmpty)
{
    EditControl edit;
    ASSERT_NE(edit.get(), nullptr);
    EXPECT_TRUE(get_window_text(edit.get()).empty());
    EXPECT_TRUE(get_window_text_w(edit.get()).empty());
}

TEST(WindowText, NonAsciiSurvivesAnEditControlByteForByte)
{
    EditControl edit;
    set_window_text(edit.get(), kMixed);
    const std::string back = get_window_text(edit.get());
    EXPECT_EQ(back, kMixed) << to_hex(back) << "\nexpected " << to_hex(kMixed);
    EXPECT_EQ(get_window_text_w(edit.get()), to_utf16(kMixed));
    EXPECT_EQ(static_cast<std::size_t>(GetWindowTextLengthW(edit.get())), to_utf16(kMixed).size());
}

TEST(WindowText, LineEndsPassThroughUntouched)
{
    EditControl edit(ES_MULTILINE);
    const std::string text = "first\r\n\tsecond: value\r\n\r\nlast";
    set_window_text(edit.get(), text);
    EXPECT_EQ(SendMessageW(edit.get(), EM_GETLINECOUNT, 0, 0), 4);
    const std::string back = get_window_text(edit.get());
    EXPECT_EQ(back, text) << to_hex(back);
}

TEST(WindowText, ZeroByteCutsTheWindowText)
{
    EditControl edit;
    set_window_text(edit.get(), std::string("before\0after", 12));
    EXPECT_EQ(get_window_text(edit.get()), "before");
}

TEST(WindowText, IllFormedTextIsShownWithReplacementCharacters)
{
    EditControl edit;
    set_window_text(edit.get(), std::string("ok\xFF"));
    EXPECT_EQ(get_window_text(edit.get()), "ok\xEF\xBF\xBD");
}

TEST(WindowText, LargeTextIsReadWhole)
{
    EditControl edit(ES_MULTILINE);
    SendMessageW(edit.get(), EM_SETLIMITTEXT, 0, 0);
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "line " + std::to_string(i) + " " + kMixed + "\r\n";
    set_window_text(edit.get(), text);
    const std::string back = get_window_text(edit.get());
    EXPECT_EQ(back.size(), text.size());
    EXPECT_TRUE(back == text);
}

TEST(WindowText, WideHelpersSetAndReadTitles)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    const std::wstring title = {L'*', L' ', 0xD83D, 0xDD11, L' ', L'k', L'e', L'y'};
    set_window_text_w(window, title);
    EXPECT_EQ(get_window_text_w(window), title);
    EXPECT_EQ(get_window_text(window), "* \xF0\x9F\x94\x91 key");
    DestroyWindow(window);
}
