// Randomised checks over many thousands of texts drawn from a small alphabet that
// touches every rule of the format (tabs, LF, CR, ": ", NUL, bytes differing only in
// bit 5, UTF-8). Each operation is compared with a plainly recursive reference
// written straight from the rules, and the laws that tie writing to parsing are
// checked on every text. The seed is fixed, so a failure repeats.

#include "tree/tree.h"
#include "tests/tree/tree_reference.h"
#include "tests/tree/tree_test_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace tree_reference;

// ---------------------------------------------------------------------------
// Random texts

class Texts {
public:
    explicit Texts(std::uint32_t seed) : rng_(seed) {}

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    // A free mix of the alphabet's tokens.
    std::string soup(std::size_t max_tokens)
    {
        static const char* const tokens[] = {"\t", "\t", "\t", "\n", "\n",   "\r\n",     "\r",       ":",
                                             ": ", " ",  " ",  "a",  "A",    "b",        "B",        "@",
                                             "`",  "[",  "{",  "1",  "\x11", "\xC3\xA9", "\xC3\x89", "x"};
        std::string out;
        const std::size_t n = below(max_tokens + 1);
        for (std::size_t i = 0; i < n; ++i) {
            if (below(24) == 0)
                out.push_back('\0');
            else
                out += tokens[below(sizeof tokens / sizeof tokens[0])];
        }
        return out;
    }

    // Lines with plausible indentation (so that nesting really happens) and a
    // short soup for each line's text.
    std::string lines(std::size_t max_lines)
    {
        std::string out;
        const std::size_t n = below(max_lines + 1);
        std::size_t level = 0;
        for (std::size_t i = 0; i < n; ++i) {
            level = below(level + 3);
            out += std::string(level, '\t');
            std::string text = soup(4);
            for (char& c : text)
                if (c == '\n') c = 'n';
            if (below(3) == 0) text += ": " + soup(3);
            out += text;
            if (i + 1 < n || below(2) == 0) out += below(2) == 0 ? "\r\n" : "\n";
        }
        return out;
    }

    std::string text() { return below(2) == 0 ? soup(40) : lines(12); }

    // Flips bit 5 of some bytes.
    std::string flip_case(std::string s)
    {
        for (char& c : s)
            if (below(3) == 0) c = static_cast<char>(c ^ 0x20);
        return s;
    }

private:
    std::mt19937 rng_;
};

// Every node below `tree` with its path (names joined by single spaces).
void collect_paths(TreeNode& n, const std::string& path, bool is_root,
                   std::vector<std::pair<TreeNode*, std::string>>& out)
{
    for (TreeNode& child : n.children) {
        const std::string p = is_root ? child.name : path + " " + child.name;
        out.emplace_back(&child, p);
        collect_paths(child, p, false, out);
    }
}

constexpr int kTexts = 6000;

}  // namespace

TEST(TreeProperties, ParseAgreesWithTheRecursiveReader)
{
    Texts texts(20261208);
    for (int i = 0; i < kTexts; ++i) {
        const std::string text = texts.text();
        const Tree tree = parse_tree(text);
        const Tree expected = ref_parse(text);
        ASSERT_TRUE(tree == expected) << "text: \"" << escaped(text) << "\"\ngot:\n"
                                      << dump(tree) << "reference:\n"
                                      << dump(expected);
        // Read one top-level node at a time, the same tree.
        std::vector<std::size_t> children_at;
        Tree lazy = parse_top_level(text, children_at);
        ASSERT_EQ(children_at.size(), lazy.children.size());
        for (std::size_t n = 0; n < lazy.children.size(); ++n)
            parse_children_at(text, children_at[n], lazy.children[n]);
        ASSERT_TRUE(lazy == expected) << "text: \"" << escaped(text) << "\"\nread lazily:\n" << dump(lazy);
    }
}

TEST(TreeProperties, WritingAParsedTextNormalisesOnlyItsTerminators)
{
    Texts texts(7);
    for (int i = 0; i < kTexts; ++i) {
        const std::string text = texts.text();
        const Tree tree = parse_tree(text);
        for (const std::string separator : {"\r\n", "\n", "|", ""}) {
            const std::string written = tree.serialize(separator, 0);
            ASSERT_EQ(escaped(written), escaped(normalised(text, separator)))
                << "separator \"" << escaped(separator) << "\"";
        }
        const std::uint32_t depth = static_cast<std::uint32_t>(texts.below(3));
        ASSERT_EQ(escaped(tree.serialize("\r\n", depth)), escaped(ref_serialize(tree, "\r\n", depth)));
    }
}

TEST(TreeProperties, ReadingWhatWasWrittenGivesTheSameTree)
{
    Texts texts(99);
    for (int i = 0; i < kTexts; ++i) {
        const std::string text = texts.text();
        const Tree tree = parse_tree(text);
        const std::string written = tree.serialize("\r\n", 0);
        const Tree again = parse_tree(written);
        ASSERT_TRUE(again == tree) << "text: \"" << escaped(text) << "\"\n" << dump(tree) << "after:\n" << dump(again);
        ASSERT_EQ(again.serialize("\r\n", 0), written);
    }
}

TEST(TreeProperties, EditsKeepTheRoundTrip)
{
    Texts texts(4242);
    for (int i = 0; i < 1500; ++i) {
        Tree tree = parse_tree(texts.text());
        for (int edit = 0; edit < 6; ++edit) {
            std::vector<std::pair<TreeNode*, std::string>> nodes;
            nodes.emplace_back(&tree, "");
            collect_paths(tree, "", true, nodes);
            TreeNode* target = nodes[texts.below(nodes.size())].first;
            if (target != &tree && texts.below(3) == 0) {
                std::string content = texts.soup(6);
                for (char& c : content)
                    if (c == '\n') c = 'n';
                target->set_content(content);
                ASSERT_EQ(target->single_line, !content.empty());
            } else {
                const std::string children_text = texts.text();
                const std::string name = target->name;
                target->set_children_from_text(children_text);
                ASSERT_EQ(target->name, name);
                ASSERT_TRUE(target->children == parse_tree(children_text).children);
            }
            const std::string written = tree.serialize("\r\n", 0);
            const Tree again = parse_tree(written);
            ASSERT_TRUE(again == tree) << dump(tree) << "after:\n" << dump(again);
        }
    }
}

TEST(TreeProperties, FindReturnsANodeWithTheGivenPath)
{
    Texts texts(31337);
    for (int i = 0; i < kTexts; ++i) {
        Tree tree = parse_tree(texts.text());
        std::vector<std::pair<TreeNode*, std::string>> nodes;
        collect_paths(tree, "", true, nodes);
        auto path_of = [&](const TreeNode* n) -> const std::string* {
            for (const auto& entry : nodes)
                if (entry.first == n) return &entry.second;
            return nullptr;
        };

        for (const auto& entry : nodes) {
            const std::string& path = entry.second;
            const TreeNode* found = tree.find(path);
            ASSERT_EQ(found, ref_find(tree, path)) << "path \"" << escaped(path) << "\"\n" << dump(tree);
            if (path.empty()) {
                ASSERT_EQ(found, &tree);
                continue;
            }
            ASSERT_NE(found, nullptr) << "path \"" << escaped(path) << "\"\n" << dump(tree);
            // An empty last name is absorbed: "a " names a itself.
            const std::string* got = path_of(found);
            ASSERT_NE(got, nullptr);
            const bool exact = matches_under_rule(*got, path);
            const bool trailing_space = path.size() == got->size() + 1 && path.back() == ' ' &&
                matches_under_rule(*got, path.substr(0, got->size()));
            ASSERT_TRUE(exact || trailing_space)
                << "path \"" << escaped(path) << "\" found \"" << escaped(*got) << "\"";

            const std::string flipped = texts.flip_case(path);
            ASSERT_EQ(tree.find(flipped), ref_find(tree, flipped)) << "path \"" << escaped(flipped) << "\"";
        }
        const std::string junk = texts.soup(6);
        ASSERT_EQ(tree.find(junk), ref_find(tree, junk)) << "path \"" << escaped(junk) << "\"";
    }
}

TEST(TreeProperties, CompletionNeverShortensAndAgreesWithTheReference)
{
    Texts texts(555);
    int offered = 0;
    for (int i = 0; i < kTexts; ++i) {
        Tree tree = parse_tree(texts.text());
        std::vector<std::pair<TreeNode*, std::string>> nodes;
        collect_paths(tree, "", true, nodes);
        std::vector<std::string> queries;
        for (const auto& entry : nodes) {
            const std::string& path = entry.second;
            queries.push_back(path);
            if (!path.empty()) {
                queries.push_back(path.substr(0, 1 + texts.below(path.size())));
                queries.push_back(texts.flip_case(path.substr(0, 1 + texts.below(path.size()))));
            }
            queries.push_back(path + " ");
        }
        queries.push_back(texts.soup(5));
        for (const std::string& query : queries) {
            const std::string answer = tree.complete(query);
            ASSERT_EQ(escaped(answer), escaped(ref_complete(tree, query))) << "query \"" << escaped(query) << "\"\n"
                                                                           << dump(tree);
            if (answer.empty()) continue;
            ++offered;
            ASSERT_GE(answer.size(), query.size());
            ASSERT_TRUE(matches_under_rule(answer.substr(0, query.size()), query))
                << "query \"" << escaped(query) << "\" answer \"" << escaped(answer) << "\"";
        }
    }
    EXPECT_GT(offered, kTexts) << "the random trees should offer completions often";
}

TEST(TreeProperties, CommonPrefixAgreesWithTheReference)
{
    Texts texts(8);
    for (int i = 0; i < 20000; ++i) {
        const std::string a = texts.soup(12);
        const std::string b =
            texts.below(2) ? texts.flip_case(a.substr(0, texts.below(a.size() + 1))) + texts.soup(3) : texts.soup(12);
        ASSERT_EQ(escaped(common_prefix_nocase(a, b)), escaped(ref_common_prefix(a, b)));
    }
}

TEST(TreeProperties, CopiesEqualTheOriginal)
{
    Texts texts(1);
    for (int i = 0; i < 2000; ++i) {
        const Tree tree = parse_tree(texts.text());
        Tree copy(tree);
        ASSERT_TRUE(copy == tree);
        Tree assigned = parse_tree(texts.text());
        assigned = tree;
        ASSERT_TRUE(assigned == tree);
        ASSERT_EQ(assigned.serialize("\n", 0), tree.serialize("\n", 0));
    }
}

namespace {

struct Visited {
    const TreeNode* node;
    std::size_t depth;
    std::size_t index;
    bool operator==(const Visited& o) const { return node == o.node && depth == o.depth && index == o.index; }
};

void visit_recursively(const TreeNode& node, std::size_t depth, std::vector<Visited>& out)
{
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        out.push_back({&node.children[i], depth, i});
        visit_recursively(node.children[i], depth + 1, out);
    }
}

}  // namespace

// The walk every search, merge and report goes through: document order, depths and
// sibling places as a plainly recursive walk gives them; a visit returning false
// stops it at once.
TEST(TreeProperties, WalkBelowAgreesWithARecursiveWalk)
{
    Texts texts(20261210);
    for (int i = 0; i < kTexts; ++i) {
        const Tree tree = parse_tree(texts.text());
        std::vector<Visited> expected;
        visit_recursively(tree, 0, expected);
        std::vector<Visited> walked;
        EXPECT_TRUE(for_each_below(tree, [&](const TreeNode& n, std::size_t depth, std::size_t index) {
            walked.push_back({&n, depth, index});
        }));
        ASSERT_TRUE(walked == expected) << dump(tree);
        if (expected.empty()) continue;
        const std::size_t stop_at = texts.below(expected.size());
        std::size_t visits = 0;
        EXPECT_FALSE(for_each_below(tree, [&](const TreeNode& n, std::size_t, std::size_t) {
            EXPECT_EQ(expected[visits].node, &n);
            return visits++ != stop_at;
        }));
        EXPECT_EQ(stop_at + 1, visits);
    }
}
