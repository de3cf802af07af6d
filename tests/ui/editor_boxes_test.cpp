// The editor window driven through real keys: node navigation by the filter box,
// completion, stepping back, indentation, the single-line guard, Ctrl+A, the
// clipboard copy, the generated password and Find.

#include <gtest/gtest.h>

#include <cstring>

#include <windows.h>
#include <dlgs.h>

#include "db/database.h"
#include "window_driver.h"
#include "ui/editor/editor_commands.h"
#include "ui/editor/editor_state.h"
#include "ui/common/text.h"

namespace {

constexpr char kPassword[] = "correct horse";

// email has two accounts, bank a single-line value, and one value is not ASCII.
constexpr char kDocument[] = "email\r\n"
                             "\twork\r\n"
                             "\t\tuser: alice\r\n"
                             "\t\tpass: s3cret\r\n"
                             "\tgmail\r\n"
                             "\t\tpass: g00gle\r\n"
                             "\tgmx\r\n"
                             "\t\tpass: \xC3\xA4\xE2\x82\xAC\xF0\x9F\x94\x91\r\n"
                             "emails-old\r\n"
                             "bank\r\n"
                             "\tpin: 1234\r\n"
                             "banking: online\r\n";

class EditorBoxes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(write_vault(kDocument, kPassword));
        ASSERT_TRUE(open_vault(db_, kPassword));
    }

    // Runs the editor under `script`; fails the test with every problem the driver saw.
    bool run(const std::function<void(WindowDriver&)>& script) { return run_editor_checked(db_, script); }

    TempWorkingDir folder_;
    Database db_;
};

// What the editor told, one message a line, for failure messages.
std::string told_messages()
{
    std::string told;
    for (const ShownMessage& message : g_editor_messages) told += message.caption + ": " + message.text + "\n";
    return told;
}

// Shows the bank entry, selects all of the editor box and types `typed` over it,
// which the box then shows as `shown`.
void type_over_bank_entry(WindowDriver& d, const std::wstring& typed, const std::wstring& shown)
{
    d.set_filter(L"bank");
    d.focus_editor();
    d.press('A', {VK_CONTROL});
    d.type(typed);
    d.expect_text(d.editor, shown, "typed");
}

TEST_F(EditorBoxes, FilterShowsTheNodeItNames)
{
    const bool locked = run([](WindowDriver& d) {
        d.check_text(d.text(d.editor), to_utf16(kDocument), "the whole document at the start");
        d.check_text(d.title(), L"Glimkeep", "title at the start");

        d.type(L"email");
        d.expect_text(d.editor,
                      L"work\r\n\tuser: alice\r\n\tpass: s3cret\r\ngmail\r\n\tpass: g00gle\r\n"
                      L"gmx\r\n\tpass: \u00E4\u20AC\U0001F511\r\n",
                      "a path shows the subtree with its children at the margin");
        d.type(L" work pass");
        d.expect_text(d.editor, L"s3cret", "a single-line node shows its bare value");
        d.type(L"x");
        d.expect_text(d.filter, L"email work passx", "filter after an unknown name");
        d.check_text(d.text(d.editor), L"s3cret", "an unknown name leaves the editor as it was");

        d.set_filter(L"EMAIL WORK ");
        d.expect_text(d.editor, L"user: alice\r\npass: s3cret\r\n",
                      "a trailing space shows the named node, names in any case");
        d.set_filter(L"email gmx pass");
        d.expect_text(d.editor, L"\u00E4\u20AC\U0001F511", "a value outside ASCII");
        d.set_filter(L"");
        d.expect_text(d.editor, to_utf16(kDocument), "an empty filter shows the whole document again");
        d.check_text(d.title(), L"Glimkeep", "showing nodes is no change");
    });
    EXPECT_FALSE(locked);
    EXPECT_TRUE(g_editor_messages.empty());
    EXPECT_TRUE(g_tree_root.children.empty()) << "the document does not outlive the editor";
}

TEST_F(EditorBoxes, EditsSurviveSwitchingNodesAndAreSaved)
{
    run([](WindowDriver& d) {
        d.type(L"bank");
        d.expect_text(d.editor, L"pin: 1234\r\n", "bank");
        d.focus_editor();
        d.press(VK_END, {VK_CONTROL});
        d.type(L"note: hi");
        d.expect_text(d.editor, L"pin: 1234\r\nnote: hi", "typed under bank");
        d.expect_text(d.main, L"* Glimkeep", "the first change marks the title");

        d.focus_filter();
        d.press(VK_BACK, {VK_CONTROL});
        d.expect_text(d.filter, L"", "Ctrl+Backspace empties a one-name filter");
        const std::wstring whole = d.text(d.editor);
        d.check(whole.find(L"bank\r\n\tpin: 1234\r\n\tnote: hi\r\nbanking: online\r\n") != std::wstring::npos,
                "the edit is in the whole document: " + escaped(whole));
        d.type(L"bank note");
        d.expect_text(d.editor, L"hi", "the new node can be named");
        d.set_filter(L"bank");
        d.expect_text(d.editor, L"pin: 1234\r\nnote: hi\r\n", "shown again, re-parsed");

        // A single-line value edited in place.
        d.set_filter(L"email work user");
        d.expect_text(d.editor, L"alice", "user");
        d.focus_editor();
        d.press(VK_END);
        d.type(L"2");
        d.expect_text(d.editor, L"alice2", "value edited");
        d.focus_filter();
        d.press('S', {VK_CONTROL});
        d.answer_dialog(L"Data successfully saved", IDOK);
        d.expect_text(d.main, L"Glimkeep", "title after saving");
        d.press(VK_F4, {VK_MENU});
        d.check(d.wait_closed(), "Alt+F4 closes the saved editor without a question");
    });
    Database reopened;
    ASSERT_TRUE(open_vault(reopened, kPassword));
    const std::string text = reopened.plaintext();
    EXPECT_NE(text.find("\t\tuser: alice2\r\n"), std::string::npos) << escaped(text);
    EXPECT_NE(text.find("bank\r\n\tpin: 1234\r\n\tnote: hi\r\nbanking: online\r\n"), std::string::npos)
        << escaped(text);
}

TEST_F(EditorBoxes, TabCompletesFromTheTree)
{
    run([](WindowDriver& d) {
        d.press(VK_TAB);
        d.check_text(d.text(d.filter), L"", "Tab in an empty filter does nothing");

        d.type(L"em");
        d.press(VK_TAB);
        d.expect_text(d.filter, L"email", "several candidates complete as far as they agree");
        DWORD start = 0, end = 0;
        d.get_selection(d.filter, start, end);
        d.check(start == 5 && end == 5, "caret at the end after completing");
        d.check(d.focus() == d.filter, "the filter box keeps the focus after Tab");

        d.press(VK_TAB);
        d.expect_text(d.filter, L"email", "the exact name wins over longer names");

        d.type(L" g");
        d.press(VK_TAB);
        d.expect_text(d.filter, L"email gm", "common prefix of gmail and gmx");
        d.type(L"A");
        d.press(VK_TAB);
        d.expect_text(d.filter, L"email gmail ", "one candidate with children gains a space");
        d.expect_text(d.editor, L"pass: g00gle\r\n", "the completed node is shown at once");
        d.press(VK_TAB);
        d.check_text(d.text(d.filter), L"email gmail ", "nothing to offer after the space");
        d.type(L"p");
        d.press(VK_TAB);
        d.expect_text(d.filter, L"email gmail pass", "one level deeper, a leaf gains no space");
        d.expect_text(d.editor, L"g00gle", "the value is shown");

        d.set_filter(L"BANKI");
        d.press(VK_TAB);
        d.expect_text(d.filter, L"banking", "stored letter case");
        d.expect_text(d.editor, L"online", "banking's value");
        d.set_filter(L"nothing");
        d.press(VK_TAB);
        d.check_text(d.text(d.filter), L"nothing", "no candidate leaves the filter alone");
    });
}

TEST_F(EditorBoxes, CtrlBackspaceStepsBackOneNameInTheFilter)
{
    run([](WindowDriver& d) {
        d.set_filter(L"email gmail pass");
        d.expect_text(d.editor, L"g00gle", "start");
        d.set_selection(d.filter, 16, 16);
        d.press(VK_BACK, {VK_CONTROL});
        d.expect_text(d.filter, L"email gmail ", "the last name goes, its space stays");
        d.expect_text(d.editor, L"pass: g00gle\r\n", "the trailing space keeps gmail shown");
        d.press(VK_BACK, {VK_CONTROL});
        d.expect_text(d.filter, L"email ", "next step");
        DWORD start = 0, end = 0;
        d.get_selection(d.filter, start, end);
        d.check(start == 6 && end == 6, "caret at the end after stepping back");

        d.set_filter(L"email gmail pass");
        d.set_selection(d.filter, 8, 8);  // "email gm|ail pass"
        d.press(VK_BACK, {VK_CONTROL});
        d.expect_text(d.filter, L"email ", "the name before the caret and all after it go");

        d.set_filter(L"email gmail");
        d.set_selection(d.filter, 0, 0);
        d.press(VK_BACK, {VK_CONTROL});
        d.expect_text(d.filter, L"email ", "a caret at 0 counts as at the end");
        d.press(VK_BACK, {VK_CONTROL});
        d.expect_text(d.filter, L"", "down to nothing");
        d.press(VK_BACK, {VK_CONTROL});
        d.check_text(d.text(d.filter), L"", "an empty filter stays empty");
        d.expect_text(d.editor, to_utf16(kDocument), "whole document");
    });
}

TEST_F(EditorBoxes, CtrlBackspaceDeletesAWordInTheEditor)
{
    run([](WindowDriver& d) {
        type_over_bank_entry(d, L"alpha beta   ", L"alpha beta   ");
        d.press(VK_BACK, {VK_CONTROL});
        d.expect_text(d.editor, L"alpha ", "the spaces and the word go together");

        d.type(L"\none");
        d.expect_text(d.editor, L"alpha \r\none", "a second line");
        d.press(VK_HOME);
        d.press(VK_BACK, {VK_CONTROL});
        d.expect_text(d.editor, L"alpha one", "at a line start the line joins the one above");

        d.set_selection(d.editor, 7, 9);  // "alpha o[ne]"
        d.press(VK_BACK, {VK_CONTROL});
        d.expect_text(d.editor, L"alpha ", "the word before the selection and the selection go");
    });
}

// Windows delivers Ctrl+Backspace as the character 0x7F: in either box it does what
// the keys do, and only in the editor box is it a change.
TEST_F(EditorBoxes, TheCharacter0x7FIsCtrlBackspaceInBothBoxes)
{
    run([](WindowDriver& d) {
        struct Case {
            bool in_editor;
            const wchar_t* before;  // set as the filter, or typed after "alpha " in the editor
            const wchar_t* after;
            const char* what;
            const wchar_t* title;
            const char* title_what;
        };
        const Case cases[] = {
            {false, L"email gmail pass", L"email gmail ", "the character 0x7F steps back too", L"Glimkeep",
             "no change"},
            {true, L"gamma", L"alpha ", "the character 0x7F deletes a word too", L"* Glimkeep", "deleting is a change"},
        };
        for (const Case& c : cases) {
            if (c.in_editor)
                type_over_bank_entry(d, std::wstring(L"alpha ") + c.before, std::wstring(L"alpha ") + c.before);
            else
                d.set_filter(c.before);
            const HWND box = c.in_editor ? d.editor : d.filter;
            PostMessageW(box, WM_CHAR, 0x7F, 0);
            d.expect_text(box, c.after, c.what);
            d.check_text(d.title(), c.title, c.title_what);
        }
    });
}

TEST_F(EditorBoxes, EnterCarriesTheIndentation)
{
    run([](WindowDriver& d) {
        type_over_bank_entry(d, L"a\n\t\tb", L"a\r\n\t\tb");
        d.press(VK_RETURN);
        d.expect_text(d.editor, L"a\r\n\t\tb\r\n\t\t", "two tabs carried to the new line");
        d.type(L"c");
        d.expect_text(d.editor, L"a\r\n\t\tb\r\n\t\tc", "typing goes on after the tabs");

        d.set_selection(d.editor, 4, 4);  // between the two tabs of "\t\tb"
        d.press(VK_RETURN);
        d.expect_text(d.editor, L"a\r\n\t\r\n\t\tb\r\n\t\tc", "only the tab before the caret is carried");

        d.press(VK_END, {VK_CONTROL});
        d.press(VK_RETURN);
        d.expect_text(d.editor, L"a\r\n\t\r\n\t\tb\r\n\t\tc\r\n\t\t", "carried at the end");
        d.press(VK_BACK, {VK_CONTROL});
        d.expect_text(d.editor, L"a\r\n\t\r\n\t\tb\r\n\t\tc\r\n", "Ctrl+Backspace takes the tabs back");
        d.type(L"    d");
        d.press(VK_RETURN);
        d.expect_text(d.editor, L"a\r\n\t\r\n\t\tb\r\n\t\tc\r\n    d\r\n", "spaces carry nothing");
    });
}

TEST_F(EditorBoxes, EnterIsRefusedInASingleLineValue)
{
    run([](WindowDriver& d) {
        d.set_filter(L"bank pin");
        d.expect_text(d.editor, L"1234", "the value");
        d.focus_editor();
        d.press(VK_RETURN);
        d.answer_dialog(L"Multiple lines not allowed", IDOK);
        d.check_text(d.text(d.editor), L"1234", "no line break inserted");
        d.check(d.wait_for([&] { return d.focus() == d.editor; }, 2000), "the editor box has the focus again");
        d.check_text(d.title(), L"Glimkeep", "refusing is no change");

        // An emptied value stops being single-line once stored.
        d.press('A', {VK_CONTROL});
        d.press(VK_DELETE);
        d.expect_text(d.editor, L"", "value emptied");
        d.set_filter(L"bank");
        d.set_filter(L"bank pin");
        d.focus_editor();
        d.type(L"x\ny");
        d.expect_text(d.editor, L"x\r\ny", "Enter accepted in the emptied node");
        d.check(d.no_dialog_within(300), "no message for the emptied node");
    });
    ASSERT_EQ(g_editor_messages.size(), 2u) << told_messages();
    EXPECT_EQ(g_editor_messages[0].caption, "Multiple lines not allowed");
    EXPECT_EQ(g_editor_messages[0].text, "You are currently editing a value field that only has one line.");
    EXPECT_EQ(g_editor_messages[1].caption, "Discard changes?");
}

static int failing_generator(char out[kGeneratedPasswordLength])
{
    std::memset(out, 0, kGeneratedPasswordLength);
    return -1;
}

TEST_F(EditorBoxes, CtrlGReplacesTheSelectionWithAPassword)
{
    run([](WindowDriver& d) {
        d.set_filter(L"bank pin");
        d.expect_text(d.editor, L"1234", "the value");
        d.focus_editor();
        d.set_selection(d.editor, 1, 3);
        d.press('G', {VK_CONTROL});
        d.check(d.wait_for([&] { return d.text(d.editor).size() == 22; }), "the password replaced \"23\"");
        const std::wstring text = d.text(d.editor);
        d.check(text.front() == L'1' && text.back() == L'4', "the text around the selection stays");
        d.check_text(d.title(), L"* Glimkeep", "a generated password is a change");

        // A failing random source: a message, and nothing inserted.
        g_editor.options.password_generator = failing_generator;
        d.press('G', {VK_CONTROL});
        d.answer_dialog(L"Error", IDOK);
        d.check_text(d.text(d.editor), text, "nothing inserted");
    });
    ASSERT_EQ(g_editor_messages.size(), 2u) << told_messages();
    EXPECT_EQ(g_editor_messages[0].text, "The random number generator failed. No password was inserted.");
    EXPECT_EQ(g_editor_messages[1].caption, "Discard changes?");
}

TEST_F(EditorBoxes, FindSelectsTheNextOccurrenceAsTheCaseSays)
{
    run([](WindowDriver& d) {
        const std::wstring text = d.text(d.editor);
        const std::size_t first = text.find(L"pin");
        d.focus_editor();
        d.set_selection(d.editor, 0, 0);
        d.press('F', {VK_CONTROL});
        HWND find = d.wait_dialog(L"Find");
        d.check(find != nullptr, "Ctrl+F opens the Find dialog");
        if (!find) return;
        // The top of the line that holds the first "pin", on the screen; the dialog is
        // put over it, as a user might have left it.
        POINT found_at = {0, static_cast<short>(HIWORD(SendMessageW(d.editor, EM_POSFROMCHAR, first, 0)))};
        ClientToScreen(d.editor, &found_at);
        RECT editor_rect = {}, dialog_rect = {}, overlap = {};
        GetWindowRect(d.editor, &editor_rect);
        const RECT found_line = {editor_rect.left, found_at.y, editor_rect.right, found_at.y + 8};
        GetWindowRect(find, &dialog_rect);
        SetWindowPos(find, nullptr, dialog_rect.left, found_at.y - 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        // The dialog's own controls: the text (edt1), Match case (chx2), Find Next (IDOK,
        // posted: a message dialog may open while the editor's thread handles it).
        SetDlgItemTextW(find, edt1, L"PIN");
        PostMessageW(find, WM_COMMAND, IDOK, 0);
        DWORD start = 0;
        DWORD end = 0;
        d.check(d.wait_for([&] {
            d.get_selection(d.editor, start, end);
            return start == first && end == first + 3;
        }),
                "\"PIN\" finds \"pin\" without Match case");
        d.check(d.wait_for([&] {
            GetWindowRect(find, &dialog_rect);
            return !IntersectRect(&overlap, &dialog_rect, &found_line);
        }),
                "the Find dialog moved off the text it found");

        CheckDlgButton(find, chx2, BST_CHECKED);
        PostMessageW(find, WM_COMMAND, IDOK, 0);
        d.answer_dialog(L"Text not found", IDOK);
        d.get_selection(d.editor, start, end);
        d.check(start == first && end == first + 3, "a failed search leaves the selection");
        d.answer(find, IDCANCEL);
    });
    ASSERT_GE(g_editor_messages.size(), 1u);
    EXPECT_EQ(g_editor_messages[0].caption, "Text not found");
}

TEST_F(EditorBoxes, CtrlASelectsEverything)
{
    run([](WindowDriver& d) {
        d.focus_editor();
        d.set_selection(d.editor, 3, 3);
        d.press('A', {VK_CONTROL});
        DWORD start = 99, end = 0;
        d.get_selection(d.editor, start, end);
        d.check(start == 0 && end == d.text(d.editor).size(), "Ctrl+A selects the whole text");
        d.check_text(d.text(d.editor), to_utf16(kDocument), "Ctrl+A types nothing");
        d.check_text(d.title(), L"Glimkeep", "Ctrl+A is no change");
    });
}

TEST_F(EditorBoxes, CtrlTabAndAltDigitsMoveTheFocus)
{
    run([](WindowDriver& d) {
        d.check(d.focus() == d.filter, "the filter box has the focus at the start");
        // Ctrl+Tab toggles: the window is brought in front first, a slow machine gets
        // time to deliver the key, and only a key that never arrived (a loaded machine
        // can drop a real key event while the window comes forward) is sent again.
        const auto ctrl_tab_to = [&](HWND target) {
            for (int attempt = 0; attempt < 3; ++attempt) {
                d.bring_to_front();
                d.press(VK_TAB, {VK_CONTROL});
                if (d.wait_for([&] { return d.focus() == target; }, 4000)) return true;
            }
            return false;
        };
        d.check(ctrl_tab_to(d.editor), "Ctrl+Tab to the editor box");
        d.check(ctrl_tab_to(d.filter), "Ctrl+Tab back to the filter box");
        d.focus_editor();
        d.focus_filter();
        d.check_text(d.text(d.filter), L"", "no key typed anything into the filter");
        d.check_text(d.text(d.editor), to_utf16(kDocument), "no key typed anything into the editor");
        d.check_text(d.title(), L"Glimkeep", "focus keys are no change");
    });
}

TEST_F(EditorBoxes, EnterCopiesWhatTheEditorShows)
{
    run([](WindowDriver& d) {
        struct Case {
            const wchar_t* filter;
            std::wstring shown;
        };
        const Case cases[] = {
            {L"email gmail", L"pass: g00gle\r\n"},
            {L"email gmx pass", L"\u00E4\u20AC\U0001F511"},
            {L"", to_utf16(kDocument)},
        };
        for (const Case& c : cases) {
            empty_clipboard();
            d.set_filter(c.filter);
            d.expect_text(d.editor, c.shown, "shown");
            d.set_selection(d.editor, 0, 0);
            d.press(VK_RETURN);
            DWORD start = 99, end = 0;
            d.check(d.wait_for([&] {
                d.get_selection(d.editor, start, end);
                return start == 0 && end == c.shown.size();
            }),
                    "the copied text is selected in the editor box");
            const ClipboardContent content = read_clipboard();
            d.check(content.opened, "the clipboard could be opened");
            d.check_text(content.text, c.shown, "the clipboard holds exactly the shown text");
            d.check(content.has_exclude, "excluded from clipboard monitors");
            d.check(content.has_history && content.history == 0, "kept out of the clipboard history");
            d.check(content.has_cloud && content.cloud == 0, "kept out of the cloud clipboard");
            d.check(d.focus() == d.filter, "the focus stays in the filter box");
            d.check_text(d.text(d.filter), c.filter, "Enter does not change the filter");
        }
        // Edits not yet stored are copied as shown.
        d.set_filter(L"bank pin");
        d.focus_editor();
        d.press(VK_END);
        d.type(L"5");
        d.expect_text(d.editor, L"12345", "edited");
        d.focus_filter();
        empty_clipboard();
        d.press(VK_RETURN);
        d.wait_for([&] { return read_clipboard().text == L"12345"; });
        d.check_text(read_clipboard().text, L"12345", "unsaved edits are copied as shown");
    });
}

}  // namespace

namespace {

// A vault larger than an edit control's default limit is shown whole and stays editable.
TEST(EditorLargeVault, IsShownWholeAndTakesMoreText)
{
    TempWorkingDir folder;
    std::string document;
    for (int i = 0; document.size() < 100000; ++i)
        document += "entry " + std::to_string(i) + "\r\n\tpass: " + std::string(40, 'x') + "\r\n";
    ASSERT_TRUE(write_vault(document, "pw"));
    Database db;
    ASSERT_TRUE(open_vault(db, "pw"));
    std::vector<std::string> problems;
    run_editor_with(
        db,
        [&](WindowDriver& d) {
            const std::wstring whole = to_utf16(document);
            d.check(d.text(d.editor) == whole, "the whole document is shown");
            d.focus_editor();
            d.press(VK_END, {VK_CONTROL});
            d.type(L"more");
            d.expect_text(d.editor, whole + L"more", "typing at the end of a large document");
            d.press('S', {VK_CONTROL});
            d.answer_dialog(L"Data successfully saved", IDOK);
        },
        problems);
    for (const std::string& problem : problems) ADD_FAILURE() << problem;
    Database reopened;
    ASSERT_TRUE(open_vault(reopened, "pw"));
    EXPECT_EQ(reopened.plaintext(), document + "more\r\n");
}

}  // namespace
