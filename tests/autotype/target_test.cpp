// The target window's filter, the title rule while typing goes on, and the checks
// before each key, as tables of decisions.

#include "autotype/target.h"

#include <gtest/gtest.h>

#include <string>

namespace {

WindowFacts a_window()
{
    WindowFacts window;
    window.class_name = L"Notepad";
    return window;
}

}  // namespace

TEST(AutoTypeTarget, TheWindowFilter)
{
    const auto with = [](auto change) {
        WindowFacts window = a_window();
        change(window);
        return window;
    };
    const struct {
        const char* what;
        WindowFacts window;
        TargetRefusal refusal;
        bool remembered;
    } cases[] = {
        {"an ordinary window", a_window(), TargetRefusal::kNone, true},
        {"closed", with([](WindowFacts& w) { w.exists = false; }), TargetRefusal::kGone, false},
        {"Glimkeep's own", with([](WindowFacts& w) { w.ours = true; }), TargetRefusal::kOwn, false},
        {"the shell's desktop", with([](WindowFacts& w) { w.shell_window = true; }), TargetRefusal::kDesktop, true},
        {"Progman", with([](WindowFacts& w) { w.class_name = L"Progman"; }), TargetRefusal::kDesktop, true},
        {"WorkerW", with([](WindowFacts& w) { w.class_name = L"WorkerW"; }), TargetRefusal::kDesktop, true},
        {"the task bar", with([](WindowFacts& w) { w.class_name = L"Shell_TrayWnd"; }), TargetRefusal::kDesktop, true},
        {"a second task bar", with([](WindowFacts& w) { w.class_name = L"Shell_SecondaryTrayWnd"; }),
         TargetRefusal::kDesktop, true},
        // Wine makes it the foreground window for a moment between two programs.
        {"the desktop window", with([](WindowFacts& w) { w.class_name = L"#32769"; }), TargetRefusal::kDesktop, false},
        {"a class named like the task bar but longer", with([](WindowFacts& w) { w.class_name = L"Shell_TrayWndX"; }),
         TargetRefusal::kNone, true},
        {"invisible", with([](WindowFacts& w) { w.visible = false; }), TargetRefusal::kHidden, false},
        {"cloaked", with([](WindowFacts& w) { w.cloaked = true; }), TargetRefusal::kHidden, false},
        {"without area", with([](WindowFacts& w) { w.has_area = false; }), TargetRefusal::kHidden, false},
        {"minimised", with([](WindowFacts& w) { w.minimised = true; }), TargetRefusal::kMinimised, false},
        {"a tool window", with([](WindowFacts& w) { w.tool_window = true; }), TargetRefusal::kToolWindow, false},
        // Ours comes first: Glimkeep's own picker is a tool window, but it is refused
        // as Glimkeep's.
        {"Glimkeep's tool window", with([](WindowFacts& w) { w.ours = w.tool_window = true; }), TargetRefusal::kOwn,
         false},
        {"a cloaked desktop", with([](WindowFacts& w) { w.cloaked = true, w.class_name = L"WorkerW"; }),
         TargetRefusal::kDesktop, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.refusal, refuse_target(c.window)) << c.what;
        EXPECT_EQ(c.remembered, remember_as_previous(c.window)) << c.what;
        const std::string by_key = target_refusal_text(c.refusal, true);
        const std::string previous = target_refusal_text(c.refusal, false);
        EXPECT_EQ(c.refusal == TargetRefusal::kNone, by_key.empty()) << c.what;
        if (c.refusal == TargetRefusal::kNone) continue;
        EXPECT_EQ(0u, by_key.find("The window in front is ")) << by_key;
        EXPECT_EQ(0u, previous.find("The window that was in front before Glimkeep is ")) << previous;
        EXPECT_NE(std::string::npos, by_key.find("Nothing was typed.")) << by_key;
    }
}

// While typing goes on, a title fits when it is the first one, one the entry's
// patterns name, or (without patterns) one that names the entry or its host.
TEST(AutoTypeTarget, TitlesThatLetTypingGoOn)
{
    const Tree root = parse_tree("bank\n\tuser: ada\n\tpassword: p\n\twindow: Bank*Login\n\twindow: Bank*Code*\n"
                                 "mail\n\tuser: ada\n\tpassword: p\n\turl: https://www.mail.example/in\n"
                                 "stars\n\tpassword: p\n\twindow: *\n"
                                 "folder\n\tnote: a value\n");
    const TreeNode& bank = root.children[0];
    const TreeNode& mail = root.children[1];
    const TreeNode& stars = root.children[2];
    const TreeNode& note = root.children[3].children[0];
    const struct {
        const char* what;
        const TreeNode* entry;
        const char* begun;
        const char* now;
        bool fits;
    } cases[] = {
        {"the same title", &bank, "Bank of Tests Login", "Bank of Tests Login", true},
        {"a second page a pattern names", &bank, "Bank of Tests Login", "Bank - enter your Code", true},
        {"a page no pattern names", &bank, "Bank of Tests Login", "Bank of Tests - Transfers", false},
        // Patterns decide alone: the name in the title is not enough.
        {"the name without a pattern", &bank, "Bank of Tests Login", "bank", false},
        {"another site in the tab", &bank, "Bank of Tests Login", "Evil page", false},
        {"the title with other case", &bank, "Bank of Tests Login", "BANK OF TESTS LOGIN", true},  // by pattern
        {"the name as a word", &mail, "Sign in", "Mail - Inbox", true},
        {"the host as a word", &mail, "Sign in", "Inbox | mail.example", true},
        {"neither", &mail, "Sign in", "Gmailx", false},
        {"the first title, named or not", &mail, "Sign in", "Sign in", true},
        {"the first title with another case", &mail, "Sign in", "SIGN IN", false},
        // A pattern that matches every window says nothing about the page.
        {"a star pattern", &stars, "Form", "Anything else", false},
        {"a star pattern, same title", &stars, "Form", "Form", true},
        {"a star entry's name", &stars, "Form", "stars", false},
        // A value typed by hand knows only its first title.
        {"a value", &note, "Form", "Form", true},
        {"a value, other title", &note, "Form", "note", false},
        {"no entry", nullptr, "Form", "Form 2", false},
        {"an untitled window staying so", nullptr, "", "", true},
        {"an untitled window getting a title", nullptr, "", "x", false},
    };
    for (const auto& c : cases) {
        const TitleRule rule(c.begun, c.entry);
        EXPECT_EQ(c.fits, rule.fits(c.now)) << c.what;
        EXPECT_EQ(c.begun, rule.begun_title()) << c.what;
    }

    // Titles are compared up to the cap: a change beyond it is not seen.
    const std::string long_title(2000, 'x');
    const TitleRule rule(long_title, nullptr);
    EXPECT_EQ(1024u, rule.begun_title().size());
    EXPECT_TRUE(rule.fits(long_title.substr(0, 1024) + "y"));
    EXPECT_FALSE(rule.fits(std::string(1023, 'x') + "y"));
}

TEST(AutoTypeTarget, ChecksBeforeEachKey)
{
    const auto seen = [](bool front, bool read, bool same, bool moves, bool checked, bool fits) {
        BeforeKey b;
        b.target_in_front = front;
        b.focus_read = read;
        b.focus_same = same;
        b.focus_moves = moves;
        b.title_checked = checked;
        b.title_fits = fits;
        return b;
    };
    const struct {
        const char* what;
        BeforeKey seen;
        TypingStop stop;
    } cases[] = {
        {"all well", seen(true, true, true, false, false, true), TypingStop::kNone},
        {"another window in front", seen(false, true, true, false, false, true), TypingStop::kAnotherWindow},
        {"another window, focus unknown too", seen(false, false, false, false, true, false),
         TypingStop::kAnotherWindow},
        // GetGUIThreadInfo failing stops typing: null focus before and after is no
        // proof that the focus stayed.
        {"the focus cannot be read", seen(true, false, true, false, false, true), TypingStop::kFocusUnknown},
        {"the focus cannot be read after Enter", seen(true, false, true, true, true, true), TypingStop::kFocusUnknown},
        {"the focus moved", seen(true, true, false, false, false, true), TypingStop::kFocusMoved},
        {"the focus moved after Tab", seen(true, true, false, true, false, true), TypingStop::kNone},
        {"after Enter, the title fits", seen(true, true, false, true, true, true), TypingStop::kNone},
        {"after Enter, another title", seen(true, true, false, true, true, false), TypingStop::kTitleChanged},
        {"a title not read again", seen(true, true, true, false, false, false), TypingStop::kNone},
    };
    for (const auto& c : cases) {
        const TypingStop stop = check_before_key(c.seen);
        EXPECT_EQ(c.stop, stop) << c.what;
        EXPECT_EQ(stop == TypingStop::kNone, typing_stop_reason(stop, "x").empty()) << c.what;
    }
    EXPECT_EQ("the window's title changed to \"Transfers\", which the entry does not name (a window: line for that "
              "title lets auto-type go on).",
              typing_stop_reason(TypingStop::kTitleChanged, "Transfers"));
}

TEST(AutoTypeTarget, ThePickersMessageNamesBothTitles)
{
    EXPECT_EQ("The title of the window changed from \"Bank - Login\" to \"Evil page\" while the auto-type window was "
              "open, so nothing was typed. Start auto-type again in that window.",
              picker_title_changed_text("Bank - Login", "Evil page"));
    // Long titles are cut at a character, never inside one.
    std::string euros;
    for (int i = 0; i < 200; ++i) euros += "\xE2\x82\xAC";
    const std::string text = picker_title_changed_text(euros, "");
    const std::string shown = "\"" + euros.substr(0, 3 * 120) + "...\"";
    EXPECT_NE(std::string::npos, text.find(shown)) << text;
    EXPECT_NE(std::string::npos, text.find("to \"\" while")) << text;
}
