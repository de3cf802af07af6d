// The tree's documented behaviour, case by case: parsing (as tables of spellings
// that must give the same tree), writing, lookup, completion, and the value
// semantics of TreeNode.

#include "tree/tree.h"
#include "tests/tree/tree_test_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

struct Spellings {
    const char* what;
    std::vector<std::string> texts;
    Tree expected;
};

void expect_all_parse_to(const Spellings& row)
{
    for (const std::string& text : row.texts) {
        const Tree parsed = parse_tree(text);
        EXPECT_TRUE(parsed == row.expected) << row.what << "\ntext: \"" << escaped(text) << "\"\nparsed:\n"
                                            << dump(parsed) << "expected:\n"
                                            << dump(row.expected);
        EXPECT_TRUE(parsed.name.empty() && parsed.content.empty() && !parsed.single_line) << row.what;
    }
}

}  // namespace

TEST(TreeParse, EquivalentSpellingsGiveTheSameTree)
{
    const std::vector<Spellings> table = {
        {"empty text: no lines", {""s}, root({})},
        {"one line, any terminator, none at the end", {"A"s, "A\n"s, "A\r\n"s}, root({node("A")})},
        {"LF and CR LF nest alike",
         {"A\n\tB\n"s, "A\r\n\tB\r\n"s, "A\n\tB"s, "A\r\n\tB"s, "A\n\tB\r\n"s, "A\r\n\tB\n"s},
         root({node("A", {node("B")})})},
        {"only the first \": \" splits",
         {"user: x: y"s, "user: x: y\n"s, "user: x: y\r\n"s},
         root({value("user", "x: y")})},
        {"colons not followed by a space mean nothing",
         {"https://example.org/a:b\n10:30\n"s, "https://example.org/a:b\r\n10:30"s},
         root({node("https://example.org/a:b"), node("10:30")})},
        {"a colon before the separator stays in the name", {"a:b: c"s, "a:b: c\r\n"s}, root({value("a:b", "c")})},
        {"a space before the colon stays in the name", {"a :b"s, "a :b\n"s}, root({node("a :b")})},
        {"name with empty value; empty name with a value",
         {"name: \n: rest\n: \n"s, "name: \r\n: rest\r\n: "s},
         root({value("name", ""), value("", "rest"), value("", "")})},
        {"a colon at a line end does not pair with a space on the next line",
         {"a:\n b\n"s, "a:\r\n b"s},
         root({node("a:"), node(" b")})},
        {"a single-line node can have children",
         {"A: 1\n\tB\n"s, "A: 1\r\n\tB"s},
         root({value("A", "1", {node("B")})})},
        {"a blank line ends the nesting and takes the next deeper line",
         {"A\n\tB\n\n\tE\n"s, "A\r\n\tB\r\n\r\n\tE"s},
         root({node("A", {node("B")}), node("", {node("E")})})},
        {"surplus tabs stay at the front of the name",
         {"A\n\t\tB\n"s, "A\r\n\t\tB"s},
         root({node("A", {node("\tB")})})},
        {"a first line with tabs is a top-level node", {"\tA\n"s, "\tA"s, "\tA\r\n"s}, root({node("\tA")})},
        {"surplus tabs on the first line and under it", {"\t\tA\n\t\t\tB\n"s}, root({node("\t\tA", {node("\t\tB")})})},
        {"surplus tabs before a key", {"A\n\t\tk: v\n"s}, root({node("A", {value("\tk", "v")})})},
        {"the level drops by any amount",
         {"A\n\tB\n\t\tC\nD\n"s, "A\r\n\tB\r\n\t\tC\r\nD"s},
         root({node("A", {node("B", {node("C")})}), node("D")})},
        {"the level drops to a middle level",
         {"A\n\tB\n\t\tC\n\tD\n"s},
         root({node("A", {node("B", {node("C")}), node("D")})})},
        {"equal siblings are kept in order", {"A\nA\n"s, "A\r\nA"s}, root({node("A"), node("A")})},
        {"a lone CR is an ordinary byte, also at the end", {"A\rB\n"s, "A\rB"s, "A\rB\r\n"s}, root({node("A\rB")})},
        {"a CR at the very end stays", {"A\r"s}, root({node("A\r")})},
        {"only the CR right before LF is part of the terminator", {"A\r\r\n"s}, root({node("A\r")})},
        {"a CR ending a value stays when no LF follows", {"k: v\r"s}, root({value("k", "v\r")})},
        {"blank lines are nodes", {"\n\n"s, "\r\n\n"s, "\n\r\n"s, "\r\n\r\n"s}, root({node(""), node("")})},
        {"a line of tabs only", {"A\n\t"s, "A\n\t\n"s, "A\r\n\t\r\n"s}, root({node("A", {node("")})})},
        {"trailing spaces and tabs stay", {"A \t\nk: v \t\n"s}, root({node("A \t"), value("k", "v \t")})},
        {"NUL bytes and UTF-8 are kept byte for byte",
         {"a\0b: c\0\n\t\xC3\xA9t\xC3\xA9\n"s, "a\0b: c\0\r\n\t\xC3\xA9t\xC3\xA9"s},
         root({value("a\0b"s, "c\0"s, {node("\xC3\xA9t\xC3\xA9")})})},
        {"the help text's own example",
         {"A\n\tText for A\n\tMore in A\nA: Text line for A\n"s},
         root({node("A", {node("Text for A"), node("More in A")}), value("A", "Text line for A")})},
    };
    for (const Spellings& row : table) expect_all_parse_to(row);
}

TEST(TreeParse, CursorHelpersStopWhereDocumented)
{
    const std::string text = "\t\tab: c\r\nx:y\n:\r";
    TreeParser p;
    p.end = text.size();

    p.pos = 0;
    EXPECT_FALSE(p.skip_indent(text, 3)) << "only two tabs";
    EXPECT_EQ(p.pos, 0u);
    EXPECT_TRUE(p.skip_indent(text, 0));
    EXPECT_EQ(p.pos, 0u);
    EXPECT_TRUE(p.skip_indent(text, 2));
    EXPECT_EQ(p.pos, 2u);

    std::size_t len = 99;
    EXPECT_TRUE(p.scan_key(text, len));
    EXPECT_EQ(p.pos, 4u) << "on the colon";
    EXPECT_EQ(len, 2u);
    p.pos = 6;
    EXPECT_FALSE(p.scan_line_end(text, len));
    EXPECT_EQ(p.pos, 7u) << "on the CR of CR LF";
    EXPECT_EQ(len, 2u);

    p.pos = 9;  // "x:y\n"
    EXPECT_FALSE(p.scan_key(text, len));
    EXPECT_EQ(p.pos, 12u);
    EXPECT_EQ(len, 1u);

    p.pos = 13;  // ":\r" at the end: no terminator
    EXPECT_FALSE(p.scan_key(text, len));
    EXPECT_EQ(p.pos, text.size());
    EXPECT_EQ(len, 0u);
    EXPECT_FALSE(p.scan_key(text, len)) << "already at the end";
    EXPECT_EQ(len, 0u);

    // A CR before the scan's start is not part of the terminator it finds.
    const std::string cr_first = "a\r\n";
    TreeParser q;
    q.end = cr_first.size();
    q.pos = 2;
    EXPECT_FALSE(q.scan_line_end(cr_first, len));
    EXPECT_EQ(q.pos, 2u);
    EXPECT_EQ(len, 1u);
}

TEST(TreeParse, NestedCursorHandsBackTheFirstLineOfAnOuterLevel)
{
    const std::string text = "\tB\n\t\tC\n\t\t\tD\nE\n";
    TreeParser p;
    p.depth = 1;
    std::size_t out = 0;
    const TreeNode n = p.parse_node(text, "A", "x", true, 0, &out);
    EXPECT_TRUE(n == value("A", "x", {node("B", {node("C", {node("D")})})})) << dump(n);
    EXPECT_EQ(out, text.find('E'));
    EXPECT_EQ(p.pos, out);
    EXPECT_EQ(p.end, text.size());
}

TEST(TreeEdit, SetContentDecidesTheFlag)
{
    TreeNode n = value("k", "old", {node("child")});
    n.set_content("");
    EXPECT_FALSE(n.single_line);
    EXPECT_EQ(n.content, "");
    n.set_content("new: value\r");
    EXPECT_TRUE(n.single_line);
    EXPECT_EQ(n.content, "new: value\r");
    EXPECT_EQ(n.name, "k");
    ASSERT_EQ(n.children.size(), 1u);
    EXPECT_EQ(n.children[0].name, "child");
    n.set_content(n.content);  // its own content
    EXPECT_EQ(n.content, "new: value\r");
}

TEST(TreeEdit, SetChildrenFromTextKeepsTheNodeInPlace)
{
    Tree tree = parse_tree("A: 1\n\tB\n\t\tC\nD\n");
    TreeNode* a = &tree.children[0];
    a->set_children_from_text("X\r\n\tY: 2\r\nZ");
    EXPECT_EQ(a, &tree.children[0]);
    EXPECT_TRUE(tree == root({value("A", "1", {node("X", {value("Y", "2")}), node("Z")}), node("D")})) << dump(tree);

    a->set_children_from_text("");
    EXPECT_TRUE(tree == root({value("A", "1"), node("D")})) << dump(tree);

    // The shown node's own text, written and read back, changes nothing.
    Tree before = tree;
    tree.set_children_from_text(tree.serialize("\r\n", 0));
    EXPECT_TRUE(tree == before) << dump(tree);

    // The text may even come from inside the subtree being replaced.
    Tree self = parse_tree("a\n\tb: x\n");
    self.set_children_from_text(self.children[0].children[0].content);
    EXPECT_TRUE(self == root({node("x")})) << dump(self);
}

TEST(TreeEdit, WipeZeroesEveryNameAndContentBelow)
{
    Tree tree = parse_tree("A: 1\n\tB\n\t\tC: secret\nD\n");
    tree.children[0].wipe();
    const std::string z1(1, '\0');
    EXPECT_TRUE(tree == root({value(z1, z1, {node(z1, {value(z1, std::string(6, '\0'))})}), node("D")})) << dump(tree);
}

TEST(TreeWrite, WritesEachLineWithItsSeparator)
{
    EXPECT_EQ(Tree().serialize("\r\n", 0), "");
    const Tree tree = root({node("A", {value("B", "1")})});
    EXPECT_EQ(tree.serialize("\r\n", 0), "A\r\n\tB: 1\r\n");
    EXPECT_EQ(tree.serialize("\n", 0), "A\n\tB: 1\n");
    EXPECT_EQ(tree.serialize("", 0), "A\tB: 1");
    EXPECT_EQ(tree.serialize("\r\n", 2), "\t\tA\r\n\t\t\tB: 1\r\n");

    EXPECT_EQ(root({value("k", "")}).serialize("\r\n", 0), "k: \r\n");
    EXPECT_EQ(root({value("", "")}).serialize("\r\n", 0), ": \r\n");

    // A node that is not single-line is written as its name alone.
    TreeNode plain("name", "ignored", false);
    EXPECT_EQ(root({plain}).serialize("\r\n", 0), "name\r\n");

    // A node below the root writes its children at the margin and never itself.
    const Tree deep = root({node("A", {node("B", {value("C", "3")}), node("D")})});
    EXPECT_EQ(deep.children[0].serialize("\r\n", 0), "B\r\n\tC: 3\r\nD\r\n");
    EXPECT_EQ(deep.children[0].children[1].serialize("\r\n", 0), "");
}

TEST(TreeWrite, ShownTextIsAValueAloneOrTheChildrenAtTheMargin)
{
    const Tree tree = root({node("A", {value("B", "1"), node("C", {value("D", "2")})}), value("E", "")});
    EXPECT_EQ(shown_text(tree, "\r\n"), "A\r\n\tB: 1\r\n\tC\r\n\t\tD: 2\r\nE: \r\n");
    EXPECT_EQ(shown_text(tree.children[0], "\n"), "B: 1\nC\n\tD: 2\n");
    EXPECT_EQ(shown_text(tree.children[0].children[0], "\r\n"), "1") << "no line end after a value";
    EXPECT_EQ(shown_text(tree.children[1], "\r\n"), "");
    EXPECT_EQ(shown_text(tree.children[0].children[1].children[0], "\n"), "2");
}

TEST(TreeFind, MatchesWholeNamesUnderTheCaseRule)
{
    Tree tree = root({node("EMAIL", {node("Gmail")})});
    EXPECT_EQ(tree.find(""), &tree);
    EXPECT_EQ(tree.children[0].find(""), &tree.children[0]);
    EXPECT_EQ(tree.find("email"), &tree.children[0]);
    EXPECT_EQ(tree.find("e"), nullptr) << "names are not matched by prefix";
    EXPECT_EQ(tree.find("emails"), nullptr);
    EXPECT_EQ(tree.find("email gmail"), &tree.children[0].children[0]);
    EXPECT_EQ(tree.find("email "), &tree.children[0]) << "a trailing space names the node before it";
    EXPECT_EQ(tree.find("email gmail "), &tree.children[0].children[0]);
    EXPECT_EQ(tree.find("email  gmail"), nullptr);
    EXPECT_EQ(tree.find("emailXgmail"), nullptr);
    EXPECT_EQ(tree.find("email gmx"), nullptr);

    const Tree& constant = tree;
    EXPECT_EQ(constant.find("EMAIL GMAIL"), &tree.children[0].children[0]);
}

TEST(TreeFind, BacktracksToLaterSiblings)
{
    Tree tree = root({node("email", {node("yahoo")}), node("Email", {node("gmail")}), node("EMAIL", {node("gmail")})});
    EXPECT_EQ(tree.find("email gmail"), &tree.children[1].children[0]);
    EXPECT_EQ(tree.find("email"), &tree.children[0]) << "the first of equal names when the path ends there";
    EXPECT_EQ(tree.find("email yahoo"), &tree.children[0].children[0]);

    // Backtracking over several levels.
    Tree deep = root({node("a", {node("b", {node("c")})}), node("a", {node("b", {node("d")})})});
    EXPECT_EQ(deep.find("a b d"), &deep.children[1].children[0].children[0]);
}

TEST(TreeFind, SpacesInNamesAndBlankNames)
{
    Tree tree = root({node("my", {node("bank")}), node("my bank"), node("", {node("x")})});
    EXPECT_EQ(tree.find("my bank"), &tree.children[0].children[0]) << "the first child to accept the path wins";
    Tree swapped = root({node("my bank"), node("my", {node("bank")})});
    EXPECT_EQ(swapped.find("my bank"), &swapped.children[0]);
    EXPECT_EQ(tree.find(" x"), &tree.children[2].children[0]) << "a leading space enters a blank name";
    EXPECT_EQ(tree.find(" "), &tree.children[2]);
}

TEST(TreeFind, EveryBytePairThatDiffersInBit5Matches)
{
    // 0x40/0x60, 0x5B/0x7B, digits with 0x10-0x19, NUL with space, and UTF-8 bytes.
    Tree tree = root({node("@[09"), node("a\0b"s), node("\xC3\xA9t\xC3\xA9"), node("{"), node("\x13")});
    EXPECT_EQ(tree.find("`{\x10\x19"), &tree.children[0]);
    EXPECT_EQ(tree.find("a b"), &tree.children[1]);
    EXPECT_EQ(tree.find("A\0B"s), &tree.children[1]);
    EXPECT_EQ(tree.find("\xC3\x89T\xC3\x89"), &tree.children[2]) << "the bytes of e acute match those of E acute";
    EXPECT_EQ(tree.find("["), &tree.children[3]);
    EXPECT_EQ(tree.find("3"), &tree.children[4]);
    EXPECT_EQ(tree.find("@[0"), nullptr);
    EXPECT_EQ(tree.find("@[0:"), nullptr) << "0x39 and 0x3A differ in more than bit 5";
    for (unsigned b = 0; b < 256; ++b) {
        const Tree single = root({node(std::string(1, static_cast<char>(b)))});
        for (unsigned c = 0; c < 256; ++c) {
            const bool match = (b & 0xDF) == (c & 0xDF);
            const TreeNode* found = single.find(std::string(1, static_cast<char>(c)));
            ASSERT_EQ(found != nullptr, match) << std::hex << "name 0x" << b << ", path 0x" << c;
        }
    }
}

TEST(TreeComplete, CompletesFromStoredNames)
{
    const Tree tree = root({node("email", {node("gmail"), node("gmx")}), node("bank")});
    EXPECT_EQ(tree.complete(""), "");
    EXPECT_EQ(tree.complete("em"), "email ");
    EXPECT_EQ(tree.complete("EM"), "email ") << "the stored letter case";
    EXPECT_EQ(tree.complete("email g"), "email gm");
    EXPECT_EQ(tree.complete("email gmai"), "email gmail");
    EXPECT_EQ(tree.complete("EMAIL GMAI"), "email gmail");
    EXPECT_EQ(tree.complete("email "), "") << "an empty rest offers nothing";
    EXPECT_EQ(tree.complete("x"), "");
    EXPECT_EQ(tree.complete("email gmail"), "email gmail");
    EXPECT_EQ(tree.complete("email x"), "");
}

TEST(TreeComplete, SeveralCandidatesAgreeOnTheirCommonPrefix)
{
    EXPECT_EQ(root({node("emails"), node("email-old")}).complete("em"), "email");
    EXPECT_EQ(root({node("email", {node("x")}), node("emails")}).complete("em"), "email");
    EXPECT_EQ(root({node("emails"), node("email", {node("x")})}).complete("em"), "email");
    EXPECT_EQ(root({node("Emails"), node("eMail-old")}).complete("em"), "Email") << "the first candidate's bytes";
    // A trailing space survives only when every later candidate continues there.
    EXPECT_EQ(root({node("ab", {node("x")}), node("ab\0"s)}).complete("a"), "ab ");
    EXPECT_EQ(root({node("ab", {node("x")}), node("abc")}).complete("a"), "ab");
    // Agreeing bytes never stop inside a character: "Bäckerei" and "Börse" share
    // the first byte of "ä" and "ö".
    EXPECT_EQ(root({node("B\xC3\xA4"
                         "ckerei"),
                    node("B\xC3\xB6rse")})
                  .complete("b"),
              "B");
    EXPECT_EQ(root({node("\xE2\x82\xAC"
                         "1"),
                    node("\xE2\x82\xAD")})
                  .complete("\xE2"),
              "\xE2");
    EXPECT_EQ(root({node("x\xF0\x9F\x98\x80"), node("x\xF0\x9F\x98\x81")}).complete("x"), "x");
    EXPECT_EQ(root({node("\xC3\xA4"
                         "a"),
                    node("\xC3\xA4"
                         "b")})
                  .complete("\xC3"),
              "\xC3\xA4");
}

TEST(TreeComplete, ExactNameWins)
{
    EXPECT_EQ(root({node("emails"), node("email", {node("x")})}).complete("EMAIL"), "email");
    EXPECT_EQ(root({node("email"), node("emails")}).complete("EMAIL"), "email");
    const Tree ab = root({node("a", {node("b")}), node("ab")});
    EXPECT_EQ(ab.complete("a b"), "a b");
    EXPECT_EQ(ab.complete("a"), "a");
    // An exact name below drops what earlier siblings accumulated there.
    EXPECT_EQ(root({node("k", {node("xa"), node("x")})}).complete("k x"), "k x");
}

TEST(TreeComplete, CandidatesFromDifferentBranchesMerge)
{
    const Tree tree = root({node("a", {node("bcd")}), node("A", {node("bce")}), node("ab")});
    EXPECT_EQ(tree.complete("a b"), "a bc");
    // The second branch's answer carries different stored bytes in the name that
    // leads there; the first branch's bytes are kept.
    EXPECT_EQ(root({node("a", {node("b1")}), node("A", {node("B1")})}).complete("A b"), "a b1");
    EXPECT_EQ(root({node("@", {node("z")})}).complete("` "), "");
    EXPECT_EQ(root({node("@", {node("zz")})}).complete("` Z"), "@ zz");
    EXPECT_EQ(root({node("\xC3\xA9t\xC3\xA9", {node("x")})}).complete("\xC3\x89"), "\xC3\xA9t\xC3\xA9 ");
}

TEST(TreeCommonPrefix, BytesComeFromTheFirstString)
{
    EXPECT_EQ(common_prefix_nocase("", "abc"), "abc");
    EXPECT_EQ(common_prefix_nocase("abc", ""), "abc");
    EXPECT_EQ(common_prefix_nocase("Email", "EMAILS"), "Email");
    EXPECT_EQ(common_prefix_nocase("ab", "ac"), "a");
    EXPECT_EQ(common_prefix_nocase("x", "y"), "");
    EXPECT_EQ(common_prefix_nocase("a b", "A\0B"s), "a b");
    EXPECT_EQ(common_prefix_nocase("0123456789abcdefXYZ",
                                   "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19"
                                   "ABCDEFxyQ"),
              "0123456789abcdefXY");
}

TEST(TreeValue, CopiesAreDeepAndIndependent)
{
    Tree tree = parse_tree("A: 1\n\tB\n\t\tC\nD\n");
    Tree copy = tree;
    EXPECT_TRUE(copy == tree);
    copy.children[0].children[0].name = "changed";
    EXPECT_EQ(tree.children[0].children[0].name, "B");
    EXPECT_TRUE(copy != tree);

    copy = tree;
    EXPECT_TRUE(copy == tree);
    const Tree& same = copy;
    copy = same;  // self-assignment
    EXPECT_TRUE(copy == tree);

    // Assigning a node one of its own descendants, by copy and by move.
    copy = copy.children[0];
    EXPECT_TRUE(copy == value("A", "1", {node("B", {node("C")})})) << dump(copy);
    copy = std::move(copy.children[0]);
    EXPECT_TRUE(copy == node("B", {node("C")})) << dump(copy);

    Tree moved = std::move(tree);
    EXPECT_EQ(moved.children.size(), 2u);
    std::vector<TreeNode> nodes(3, moved);
    nodes.erase(nodes.begin());
    EXPECT_TRUE(nodes[1] == moved);
}
