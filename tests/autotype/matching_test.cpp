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
    };
    for (const auto& c : cases) EXPECT_EQ(c.matches, occurs_as_word(c.word, c.title)) << c.word << " / " << c.title;
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
