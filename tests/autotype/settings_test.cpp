// The hot key from glimkeep.ini.

#include "autotype/settings.h"
#include "autotype/lock_settings.h"

#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <string>

TEST(AutoTypeSettings, HotKeys)
{
    const struct {
        const char* text;
        const char* name;  // null: refused
    } cases[] = {
        {"Ctrl+Alt+Insert", "Ctrl+Alt+Insert"},
        {"ctrl + shift + f11", "Ctrl+Shift+F11"},
        {"Alt+Control+ins", "Ctrl+Alt+Insert"},
        {"Win+Shift+F7", "Shift+Win+F7"},
        {"Win+Shift+K", nullptr},  // Windows reserves Win with a letter or digit
        {"Ctrl+7", "Ctrl+7"},
        {"F24", "F24"},
        {"Shift+F9", "Shift+F9"},
        {"Ctrl+PgDn", "Ctrl+PageDown"},
        {"Ctrl+Alt+Pause", "Ctrl+Alt+Pause"},
        // A key that types a character is never taken from every program.
        {"A", nullptr},
        {"Shift+A", nullptr},
        {"Insert", nullptr},
        {"Ctrl+Alt", nullptr},
        {"Ctrl+", nullptr},
        {"+A", nullptr},
        {"Ctrl+A+B", nullptr},
        {"Ctrl+Ctrl+A", nullptr},
        {"Ctrl+F0", nullptr},
        {"Ctrl+F25", nullptr},
        {"Ctrl+F01", nullptr},
        {"Ctrl+Banana", nullptr},
        {"Ctrl+\xC3\x84", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        HotKey key{0, 0};
        const bool parsed = parse_hotkey(c.text, key);
        EXPECT_EQ(c.name != nullptr, parsed) << c.text;
        if (c.name) {
            EXPECT_EQ(c.name, hotkey_name(key)) << c.text;
        } else {
            EXPECT_EQ(0u, key.modifiers | key.virtual_key) << c.text;
        }
    }
    HotKey key;
    ASSERT_TRUE(parse_hotkey("Ctrl+Shift+F11", key));
    EXPECT_EQ(kModControl | kModShift, key.modifiers);
    EXPECT_EQ(0x7Au, key.virtual_key);  // VK_F11
    EXPECT_EQ("Ctrl+Alt+Insert", hotkey_name(HotKey()));
    EXPECT_EQ(kVirtualKeyInsert, HotKey().virtual_key);
}

namespace {

// A key as written in glimkeep.ini, and a part of the reason it is refused (null
// when it is taken).
struct RefusalCase {
    const char* text;
    const char* reason_part;
};

}  // namespace

// Keys that would take a character, a system key or a key of every program.
TEST(AutoTypeSettings, KeysThatAreRefused)
{
    const RefusalCase cases[] = {
        {"7", "types a character"},
        {"Shift+Q", "types a character"},
        {"Ctrl+Alt+A", "AltGr"},
        {"Ctrl+Alt+Shift+E", "AltGr"},
        {"Ctrl+Alt+2", "AltGr"},
        {"Alt+Ctrl+Shift+0", "AltGr"},
        {"Win+L", "Windows key"},
        {"Ctrl+Win+5", "Windows key"},
        {"Ctrl+Alt+Win+K", "Windows key"},
        {"Alt+F4", "Alt+F4"},
        {"Alt+Shift+F4", "Alt+F4"},
        {"Ctrl+Alt+Delete", "Ctrl+Alt+Delete"},
        {"Ctrl+Alt+Shift+Del", "Ctrl+Alt+Delete"},
        {"F12", "F12"},
        {"Ctrl+F12", "F12"},
        {"Ctrl+Alt+Shift+Win+F12", "F12"},
        {"Insert", "function key"},
        {"Shift+Pause", "function key"},
        // Still taken: Ctrl or Alt alone with a letter, function keys, Alt with F4's
        // neighbours, Ctrl+F4, Ctrl+Delete.
        {"Ctrl+A", nullptr},
        {"Alt+Shift+A", nullptr},
        {"Ctrl+Shift+9", nullptr},
        {"F1", nullptr},
        {"F11", nullptr},
        {"F13", nullptr},
        {"Shift+F24", nullptr},
        {"Alt+F3", nullptr},
        {"Ctrl+F4", nullptr},
        {"Ctrl+Alt+F4", nullptr},
        {"Ctrl+Delete", nullptr},
        {"Alt+Delete", nullptr},
        {"Win+F2", nullptr},
        {"Ctrl+Alt+Insert", nullptr},
    };
    for (const RefusalCase& c : cases) {
        const AutoTypeSettings settings = read_settings_text(std::string("[auto-type]\nhotkey=") + c.text + "\n");
        HotKey read{0, 0};
        EXPECT_EQ(c.reason_part == nullptr, parse_hotkey(c.text, read)) << c.text;
        if (c.reason_part) {
            EXPECT_EQ("Ctrl+Alt+Insert", hotkey_name(settings.hotkey)) << c.text;
            EXPECT_EQ(0u, settings.line) << c.text;
            const std::string expected_start =
                std::string("glimkeep.ini, line 2: \"hotkey=") + c.text + "\" cannot be used: ";
            EXPECT_EQ(expected_start, settings.problem.substr(0, expected_start.size())) << c.text;
            EXPECT_NE(std::string::npos, settings.problem.find(c.reason_part)) << settings.problem;
            EXPECT_NE(std::string::npos, settings.problem.find("Auto-type uses Ctrl+Alt+Insert.")) << settings.problem;
        } else {
            EXPECT_EQ("", settings.problem) << c.text;
            EXPECT_EQ(2u, settings.line) << c.text;
            EXPECT_EQ(hotkey_name(read), hotkey_name(settings.hotkey)) << c.text;
        }
    }
    EXPECT_EQ(nullptr, hotkey_refusal(HotKey()));
    EXPECT_NE(nullptr, hotkey_refusal(HotKey{kModAlt, 0x73}));  // VK_F4
}

TEST(AutoTypeSettings, CommentsAfterHeadersAndValues)
{
    AutoTypeSettings settings = read_settings_text("[auto-type] ; mine\nhotkey=Ctrl+Shift+F11 ; since May\n");
    EXPECT_EQ("", settings.problem);
    EXPECT_EQ("Ctrl+Shift+F11", hotkey_name(settings.hotkey));
    EXPECT_EQ(2u, settings.line);
    settings = read_settings_text("[Auto-Type]# mine\r\n\r\n  hotkey = Alt+F9#x\r\n");
    EXPECT_EQ("Alt+F9", hotkey_name(settings.hotkey));
    EXPECT_EQ(3u, settings.line);
    // Text after a header that is not a comment makes it another section.
    settings = read_settings_text("[auto-type] x\nhotkey=Ctrl+Shift+F11\n");
    EXPECT_EQ("Ctrl+Alt+Insert", hotkey_name(settings.hotkey));
    EXPECT_EQ("", settings.problem);
    // A comment alone is no key.
    settings = read_settings_text("[auto-type]\nhotkey=;Ctrl+F1\n");
    EXPECT_EQ("Ctrl+Alt+Insert", hotkey_name(settings.hotkey));
    EXPECT_NE(std::string::npos, settings.problem.find("line 2")) << settings.problem;
}

TEST(AutoTypeSettings, TheKeyTakenByAnotherProgramIsNamedWithItsLine)
{
    const AutoTypeSettings from_line = read_settings_text("; keys\n[auto-type]\nhotkey=Ctrl+Shift+F11\n");
    EXPECT_EQ("The auto-type key Ctrl+Shift+F11 (glimkeep.ini, line 3) is taken by another program, so it does "
              "nothing in Glimkeep for now. Another key can be set in glimkeep.ini beside the vault: a section "
              "[auto-type] with a line like hotkey=Ctrl+Shift+F11.",
              hotkey_taken_text(from_line));
    const std::string by_default = hotkey_taken_text(AutoTypeSettings());
    EXPECT_EQ(0u, by_default.find("The auto-type key Ctrl+Alt+Insert is taken by another program")) << by_default;
}

TEST(AutoTypeSettings, TheIniFile)
{
    AutoTypeSettings settings = read_settings_text("\xEF\xBB\xBF; mine\r\n[other]\r\nhotkey=Ctrl+F1\r\n"
                                                   "[ Auto-Type ]\r\n  HotKey = Ctrl+Shift+F11  \r\n");
    EXPECT_EQ("", settings.problem);
    EXPECT_EQ("Ctrl+Shift+F11", hotkey_name(settings.hotkey));

    // A value that cannot be read names its line and keeps the default.
    settings = read_settings_text("[auto-type]\nhotkey=Ctrl+F11\n\n# typo below\nhotkey=Ctrl+Alt+Banana\n");
    EXPECT_EQ("Ctrl+Alt+Insert", hotkey_name(settings.hotkey));
    EXPECT_EQ("glimkeep.ini, line 5: \"hotkey=Ctrl+Alt+Banana\" is not a hot key Glimkeep can read "
              "(write it like hotkey=Ctrl+Shift+F11). Auto-type uses Ctrl+Alt+Insert.",
              settings.problem);

    const char hostile[] = "[auto-type]\nhotkey=\0\xFF\n";
    settings = read_settings_text(std::string(hostile, sizeof hostile - 1));
    EXPECT_NE(std::string::npos, settings.problem.find("line 2")) << settings.problem;
    EXPECT_EQ("Ctrl+Alt+Insert", hotkey_name(read_settings_text("[").hotkey));
    EXPECT_EQ("", read_settings_text("[auto-type]\nother=1\nnonsense\n").problem);
}

TEST(AutoTypeSettings, TheFileBesideTheVault)
{
    EXPECT_EQ("C:\\vaults\\glimkeep.ini", settings_path_beside("C:\\vaults\\passwords.gkv"));
    EXPECT_EQ("/home/a/glimkeep.ini", settings_path_beside("/home/a/passwords.gkv"));
    EXPECT_EQ("glimkeep.ini", settings_path_beside("passwords.gkv"));

    const TempDir dir;
    const std::string path = dir.file("glimkeep.ini");
    AutoTypeSettings settings = read_settings_file(path);  // absent: the default, no message
    EXPECT_EQ("", settings.problem);
    EXPECT_EQ("Ctrl+Alt+Insert", hotkey_name(settings.hotkey));
    write_file(path, "[auto-type]\nhotkey=Win+F2\n");
    EXPECT_EQ("Win+F2", hotkey_name(read_settings_file(path).hotkey));
    write_file(path, std::string(kMaxSettingsSize + 1, ';'));
    settings = read_settings_file(path);
    EXPECT_EQ("glimkeep.ini cannot be read or is larger than 64 KiB. Auto-type uses Ctrl+Alt+Insert.",
              settings.problem);
    EXPECT_EQ("Ctrl+Alt+Insert", hotkey_name(settings.hotkey));
}

TEST(LockSettings, QuickUnlockLines)
{
    const struct {
        const char* text;
        unsigned length;
        unsigned hours;
        const char* problem_line;  // null: no problem
    } cases[] = {
        {"", 0, 8, nullptr},
        {"[lock]\nquick-unlock=off\n", 0, 8, nullptr},
        {"[lock]\nquick-unlock=last 4\n", 4, 8, nullptr},
        {"[ LOCK ]\r\n  Quick-Unlock = LAST   3 \r\nquick-unlock-hours=24\r\n", 3, 24, nullptr},
        {"[lock]\nquick-unlock=last 8\nquick-unlock-hours=1\n", 8, 1, nullptr},
        {"[lock]\nquick-unlock=last 2\n", 0, 8, "line 2"},
        {"[lock]\nquick-unlock=last 9\n", 0, 8, "line 2"},
        {"[lock]\nquick-unlock=last4\n", 0, 8, "line 2"},
        {"[lock]\nquick-unlock=last -4\n", 0, 8, "line 2"},
        {"[lock]\nquick-unlock=on\n", 0, 8, "line 2"},
        {"[lock]\nquick-unlock=last 4 chars\n", 0, 8, "line 2"},
        {"[lock]\nquick-unlock=last 4\n; later\nquick-unlock-hours=25\n", 4, 8, "line 4"},
        {"[lock]\nquick-unlock=last 4\nquick-unlock-hours=0\n", 4, 8, "line 3"},
        {"[lock]\nquick-unlock=last 4\nquick-unlock-hours=8h\n", 4, 8, "line 3"},
        {"[lock]\nquick-unlock=last 4\nquick-unlock-hours=\n", 4, 8, "line 3"},
        // The last line of a key counts, and a good one clears an earlier problem.
        {"[lock]\nquick-unlock=last 1\nquick-unlock=last 5\n", 5, 8, nullptr},
        {"[lock]\nquick-unlock=last 5\nquick-unlock=banana\n", 0, 8, "line 3"},
        // Other sections are someone else's.
        {"[auto-type]\nquick-unlock=last 4\n[lock]\nhotkey=Ctrl+F1\n", 0, 8, nullptr},
    };
    for (const auto& c : cases) {
        const LockSettings settings = read_lock_settings_text(c.text);
        EXPECT_EQ(c.length, settings.quick_unlock_length) << c.text;
        EXPECT_EQ(c.hours, settings.quick_unlock_hours) << c.text;
        if (c.problem_line) {
            EXPECT_EQ(0u, settings.problem.find(std::string("glimkeep.ini, ") + c.problem_line + ": \""))
                << settings.problem;
        } else {
            EXPECT_EQ("", settings.problem) << c.text;
        }
    }
    EXPECT_EQ("glimkeep.ini, line 2: \"quick-unlock=last 2\" is not a setting Glimkeep can read (write it like "
              "quick-unlock=last 4, with 3 to 8 characters, or quick-unlock=off). Quick unlock stays off.",
              read_lock_settings_text("[lock]\nquick-unlock=last 2\n").problem);
    // Both keys wrong: both lines named.
    const LockSettings both = read_lock_settings_text("[lock]\nquick-unlock=x\nquick-unlock-hours=99\n");
    EXPECT_NE(std::string::npos, both.problem.find("line 2")) << both.problem;
    EXPECT_NE(std::string::npos, both.problem.find("line 3")) << both.problem;
    EXPECT_NE(std::string::npos, both.problem.find("Quick unlock lasts 8 hours.")) << both.problem;
}

TEST(LockSettings, TheFileBesideTheVault)
{
    const TempDir dir;
    const std::string path = dir.file("glimkeep.ini");
    LockSettings settings = read_lock_settings_file(path);
    EXPECT_EQ(0u, settings.quick_unlock_length);
    EXPECT_EQ("", settings.problem);
    write_file(path, "[auto-type]\nhotkey=Win+F2\n[lock]\nquick-unlock=last 6\nquick-unlock-hours=2\n");
    settings = read_lock_settings_file(path);
    EXPECT_EQ(6u, settings.quick_unlock_length);
    EXPECT_EQ(2u, settings.quick_unlock_hours);
    // The same file still gives auto-type its key.
    EXPECT_EQ("Win+F2", hotkey_name(read_settings_file(path).hotkey));
    write_file(path, std::string(kMaxSettingsSize + 1, ';'));
    settings = read_lock_settings_file(path);
    EXPECT_EQ(0u, settings.quick_unlock_length);
    EXPECT_EQ("glimkeep.ini cannot be read or is larger than 64 KiB. Quick unlock stays off.", settings.problem);
}
