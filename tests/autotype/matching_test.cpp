// Which entry a window title names: patterns, whole words, host names, and the
// loose matches that must not happen.

#include "autotype/matching.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> paths(const std::vector<AutoTypeRow>& rows)
{
    std::vector<std::string> result;
    for (const AutoTypeRow& row : rows) result.push_back(row.path.str());
    return result;
}

}  // namespace

TEST(AutoTypeMatching, WindowPatterns)
{
    const struct {
        const char* pattern;
        const char* title;
        bool matches;
    } cases[] = {
        {"Login - Bank", "Login - Bank", true},
        {"login - BANK", "Login - Bank", true},
        {"*Bank*", "My Bank - Mozilla Firefox", true},
        {"*Bank", "My Bank - Mozilla Firefox", false},  // the whole title
        {"My*", "My Bank", true},
        {"*", "anything", true},
        {"*", "", true},
        {"a*b*c", "axxbyyc", true},
        {"a*b*c", "axxbyy", false},
        {"a**c", "ac", true},
        {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {"  *Bank*  ", "Bank", true},  // spaces around the pattern do not count
        {"", "", false},
        {"   ", "x", false},
        {"\xC3\x84rzte*", "\xC3\xA4rzte online", true},  // Ärzte / ärzte
        {"*\xD0\x91\xD0\x90\xD0\x9D\xD0\x9A", "\xD0\xBC\xD0\xBE\xD0\xB9 \xD0\xB1\xD0\xB0\xD0\xBD\xD0\xBA", true},
        {"Login?", "Login!", false},  // only * is special
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.matches, window_pattern_matches(c.pattern, c.title)) << c.pattern << " / " << c.title;
}

// The loose matches of other programs: an entry named "f" typed into every Firefox
// window, "hive" into "Archive".
TEST(AutoTypeMatching, NamesOccurOnlyAsWholeWords)
{
    const struct {
        const char* word;
        const char* title;
        bool matches;
    } cases[] = {
        {"hive", "Archive", false},
        {"hive", "The Hive - login", true},
        {"HIVE", "hive", true},
        {"f", "Mozilla Firefox", false},
        {"f", "F - Mozilla Firefox", true},
        {"bank", "mybank.com", false},
        {"mybank.com", "Sign in | mybank.com", true},
        {"bank", "Bank\xE2\x80\x93Login", true},  // an en dash is no letter
        {"bank", "Bank\xC3\xA9", false},  // an accented letter is
        {"bank", "bank2", false},
        {"My Bank", "Welcome to my bank!", true},
        {"", "anything", false},
        {"  ", "  ", false},
        {"stra\xC3\x9F"
         "e",
         "STRA\xC3\x9F"
         "E",
         true},
        {"x", "\xFFx\xFF", true},  // bytes that are not UTF-8 are no letters
        // Symbols and punctuation separate words, wherever they come from.
        {"bank", "Bank\xE2\x84\xA2 Login", true},  // Bank(TM) Login
        {"bank",
         "\xC2\xAE"
         "Bank",
         true},  // (R)Bank
        {"bank", "Bank\xE2\x86\x92Login", true},  // an arrow
        {"bank", "Bank\xE2\x9C\x93", true},  // a check mark
        {"bank",
         "\xF0\x9F\x94\x92"
         "Bank",
         true},  // a padlock emoji
        {"bank", "Bank\xEF\xB8\x8F", true},  // a variation selector
        {"bank",
         "\xE3\x80\x8C"
         "Bank\xE3\x80\x8D",
         true},  // CJK corner brackets
        {"bank", "Bank\xEF\xBC\x81", true},  // a full-width exclamation mark
        {"bank", "Bank\xE2\xB8\xBA", true},  // a two-em dash
        {"bank",
         "Bank\xE2\x88\x92"
         "2",
         true},  // a minus sign
        {"bank", "Bank\xCE\xB1", false},  // a Greek letter is a letter
        {"bank",
         "\xD0\x96"
         "Bank",
         false},  // so is a Cyrillic one
        {"bank", "Bank\xE4\xB8\xAD", false},  // and a CJK ideograph
        {"bank", "Bank\xD9\xA3", false},  // an Arabic-Indic digit is a digit
    };
    for (const auto& c : cases) EXPECT_EQ(c.matches, occurs_as_word(c.word, c.title)) << c.word << " / " << c.title;
}

// A pattern of stars and spaces names every window: it offers the entry, never types
// it at once, and does not hide a pattern that names the window.
TEST(AutoTypeMatching, PatternsThatMatchEveryTitle)
{
    const struct {
        const char* pattern;
        bool everything;
    } cases[] = {
        {"*", true},    {"**", true},   {" * ", true},  {"* *", true}, {"\t*\t", true},       {"", false},
        {"   ", false}, {"*a*", false}, {"*.*", false}, {"?", false},  {"*\xC2\xA0*", false},  // a no-break space is a character of a title
    };
    for (const auto& c : cases) EXPECT_EQ(c.everything, matches_every_title(c.pattern)) << c.pattern;

    const Tree root = parse_tree("any\n\tpassword: p1\n\twindow: *\n"
                                 "stars\n\tpassword: p2\n\twindow:  * * \n"
                                 "bank\n\tpassword: p3\n\twindow: *Bank*\n");
    for (const char* title : {"", "Untitled - Notepad", "any"}) {
        const TitleMatches matches = match_title(root, title);
        EXPECT_FALSE(matches.type_at_once()) << title;
        EXPECT_EQ(0u, matches.window_matches) << title;
        EXPECT_EQ((std::vector<std::string>{"any", "stars"}), paths(matches.rows)) << title;
    }
    TitleMatches matches = match_title(root, "My Bank");
    EXPECT_TRUE(matches.type_at_once());
    EXPECT_EQ((std::vector<std::string>{"bank", "any", "stars"}), paths(matches.rows));

    // With a pattern that names the window, a star beside it changes nothing.
    matches = match_title(parse_tree("bank\n\tpassword: p\n\twindow: *\n\twindow: My Bank\n"), "My Bank");
    EXPECT_TRUE(matches.type_at_once());
    EXPECT_TRUE(matches.rows.at(0).by_window);
}

// Only the first 1,024 characters of a title are read, however long it is.
TEST(AutoTypeMatching, TitlesAreReadUpToTheirCap)
{
    EXPECT_EQ(1024u, kMaxTitleLength);
    const std::string ascii(5000, 'a');
    EXPECT_EQ(1024u, capped_title(ascii).size());
    EXPECT_EQ("abc", capped_title("abc"));
    EXPECT_EQ("", capped_title(""));
    std::string euros;
    for (int i = 0; i < 1100; ++i) euros += "\xE2\x82\xAC";
    EXPECT_EQ(3u * 1024u, capped_title(euros).size());  // characters, not bytes
    std::string broken(2000, '\xFF');
    EXPECT_EQ(1024u, capped_title(broken).size());

    // A word right at the cap is read; one after it is not.
    std::string title(1019, '-');
    title += " bank";  // characters 1020 to 1024
    EXPECT_TRUE(occurs_as_word("bank", title));
    EXPECT_TRUE(window_pattern_matches("*bank", title));
    title.insert(0, "-");
    EXPECT_FALSE(occurs_as_word("bank", title));
    EXPECT_FALSE(window_pattern_matches("*bank", title));
    const Tree root = parse_tree("bank\n\tpassword: p\n");
    EXPECT_TRUE(match_title(root, title).rows.empty());
    EXPECT_EQ(1u, match_title(root, title.substr(1)).rows.size());

    // A title of 200,000 characters against a pattern that backtracks: the cap
    // bounds the work (a test time limit would catch a regression).
    const std::string huge(200000, 'a');
    EXPECT_FALSE(window_pattern_matches("*a*a*a*a*a*a*b", huge));
}

TEST(AutoTypeMatching, HostNames)
{
    EXPECT_EQ("example.com", url_host("https://www.example.com/login?x=1"));
    EXPECT_EQ("mail.example.com", url_host("https://user:pw@mail.example.com:8443/#inbox"));
    EXPECT_EQ("example.org", url_host("example.org/path"));
    EXPECT_EQ("[::1]", url_host("http://[::1]:8080/"));
    EXPECT_EQ("", url_host("https:///"));
    EXPECT_EQ("", url_host(""));
}

TEST(AutoTypeMatching, ThePatternDecidesAndNameMatchesWaitForAChoice)
{
    const Tree root = parse_tree("web\n"
                                 "\tbank\n"
                                 "\t\tuser: ada\n"
                                 "\t\tpassword: p1\n"
                                 "\t\twindow: *Online Banking*\n"
                                 "\tmail\n"
                                 "\t\turl: https://www.mail.example/\n"
                                 "\t\tpassword: p2\n"
                                 "\tonline\n"
                                 "\t\tpass: p3\n"
                                 "notes\n"
                                 "\tonline: no password, no candidate\n"
                                 "shell\n"
                                 "\tauto-type: {USERNAME}\n"
                                 "\twindow: Terminal\n"
                                 "\twindow: *Console*\n");
    // One pattern match is typed at once, whatever matches by name exist.
    TitleMatches matches = match_title(root, "Online Banking - mail.example");
    EXPECT_TRUE(matches.type_at_once());
    EXPECT_EQ((std::vector<std::string>{"web bank", "web mail", "web online"}), paths(matches.rows));
    EXPECT_TRUE(matches.rows[0].by_window);
    EXPECT_FALSE(matches.rows[1].by_window);
    EXPECT_EQ((std::vector<std::uint32_t>{0, 0}), matches.rows[0].position);

    // Name and host matches alone are never typed at once.
    matches = match_title(root, "Inbox - mail.example");
    EXPECT_FALSE(matches.type_at_once());
    EXPECT_EQ((std::vector<std::string>{"web mail"}), paths(matches.rows));

    // An entry with patterns matches only by them: "shell" is not matched by name,
    // and either of its patterns matches.
    EXPECT_TRUE(match_title(root, "shell").rows.empty());
    EXPECT_EQ((std::vector<std::string>{"shell"}), paths(match_title(root, "Root Console").rows));
    EXPECT_EQ((std::vector<std::string>{"shell"}), paths(match_title(root, "terminal").rows));

    EXPECT_TRUE(match_title(root, "Archive").rows.empty());
    EXPECT_EQ((std::vector<std::string>{"web bank", "web mail", "web online", "shell"}), paths(all_candidates(root)));
}

// Two entries of one name are two rows, each finding its own node again; a row
// whose node moved finds nothing.
TEST(AutoTypeMatching, RowsFindTheirOwnNodeAgain)
{
    Tree root = parse_tree("shop\n\tpassword: first\nshop\n\tpassword: second\n");
    const TitleMatches matches = match_title(root, "shop - checkout");
    ASSERT_EQ(2u, matches.rows.size());
    EXPECT_FALSE(matches.type_at_once());
    const TreeNode* first = node_at(root, matches.rows[0].position, matches.rows[0].path);
    const TreeNode* second = node_at(root, matches.rows[1].position, matches.rows[1].path);
    ASSERT_TRUE(first && second);
    EXPECT_EQ("first", first->children[0].content);
    EXPECT_EQ("second", second->children[0].content);

    root = parse_tree("other\nshop\n\tpassword: second\n");
    EXPECT_EQ(nullptr, node_at(root, matches.rows[0].position, matches.rows[0].path));
    EXPECT_EQ(&root.children[1], node_at(root, matches.rows[1].position, matches.rows[1].path));
    root = parse_tree("shop\n");
    EXPECT_EQ(nullptr, node_at(root, matches.rows[1].position, matches.rows[1].path));
    EXPECT_EQ(nullptr, node_at(root, {}, SecretString()));
}

TEST(AutoTypeMatching, PathsNarrowByTheFilterBoxRule)
{
    EXPECT_TRUE(path_starts_with("web bank", "WEB B"));
    EXPECT_TRUE(path_starts_with("web bank", ""));
    EXPECT_FALSE(path_starts_with("web bank", "web bank x"));
    EXPECT_FALSE(path_starts_with("web bank", "mail"));
}
