// Randomised checks over many thousands of texts drawn from a small alphabet that
// touches every rule of the format (tabs, LF, CR, ": ", NUL, bytes differing only in
// bit 5, UTF-8). Each operation is compared with a plainly recursive reference
// written straight from the rules, and the laws that tie writing to parsing are
// checked on every text. The seed is fixed, so a failure repeats.

#include "tree/tree.h"
#include "tests/tree/tree_test_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Reference: one recursive call per level, byte by byte.

struct RefCursor {
    std::uint32_t depth = 0;
    std::size_t pos = 0;
    std::size_t end = 0;

    bool skip_indent(const std::string& text, std::uint32_t count)
    {
        const std::size_t saved = pos;
        while (count != 0 && pos < end) {
            const char c = text[pos++];
            if (c != '\t') break;
            --count;
        }
        if (count == 0) return true;
        pos = saved;
        return false;
    }

    bool scan(const std::string& text, std::size_t& out_len, bool look_for_key)
    {
        out_len = 0;
        int previous = -1;
        while (pos < end) {
            const int c = static_cast<unsigned char>(text[pos++]);
            if (look_for_key && previous == ':' && c == ' ') {
                pos -= 2;
                out_len = 2;
                return true;
            }
            if (c == '\n') {
                pos -= 1;
                out_len = 1;
                if (previous == '\r') {
                    pos -= 1;
                    out_len = 2;
                }
                return false;
            }
            previous = c;
        }
        return false;
    }

    TreeNode parse_node(const std::string& text, std::string name, std::string content, bool single,
                        std::size_t start, std::size_t* out_pos)
    {
        pos = start;
        end = text.size();
        TreeNode result(std::move(name), std::move(content), single);
        while (pos < end) {
            if (!skip_indent(text, depth)) break;
            const std::size_t line_start = pos;
            std::size_t len = 0;
            std::string child_name;
            std::string child_content;
            bool child_single = false;
            if (scan(text, len, true)) {
                child_name = text.substr(line_start, pos - line_start);
                pos += 2;
                const std::size_t value_start = pos;
                scan(text, len, false);
                child_content = text.substr(value_start, pos - value_start);
                pos += len;
                child_single = true;
            } else {
                child_name = text.substr(line_start, pos - line_start);
                pos += len;
            }
            RefCursor below;
            below.depth = depth + 1;
            result.children.push_back(
                below.parse_node(text, std::move(child_name), std::move(child_content), child_single, pos, &pos));
        }
        if (out_pos) *out_pos = pos;
        return result;
    }
};

Tree ref_parse(const std::string& text)
{
    RefCursor cursor;
    return cursor.parse_node(text, "", "", false, 0, nullptr);
}

std::string ref_serialize(const TreeNode& n, const std::string& separator, std::uint32_t depth)
{
    std::string out;
    for (const TreeNode& child : n.children) {
        out += std::string(depth, '\t') + child.name;
        if (child.single_line) out += ": " + child.content;
        out += separator;
        out += ref_serialize(child, separator, depth + 1);
    }
    return out;
}

bool ref_match(char a, char b)
{
    return ((static_cast<unsigned char>(a) ^ static_cast<unsigned char>(b)) & 0xDF) == 0;
}

const TreeNode* ref_find(const TreeNode& n, const std::string& path)
{
    if (path.empty()) return &n;
    for (const TreeNode& child : n.children) {
        const std::size_t len = std::min(path.size(), child.name.size());
        std::size_t i = 0;
        while (i < len && ref_match(path[i], child.name[i])) ++i;
        if (i < len) continue;
        if (path.size() > child.name.size()) {
            if (path[child.name.size()] != ' ') continue;
            if (const TreeNode* found = ref_find(child, path.substr(child.name.size() + 1))) return found;
        } else if (path.size() == child.name.size()) {
            return &child;
        }
    }
    return nullptr;
}

std::string ref_common_prefix(const std::string& a, const std::string& b)
{
    if (a.empty()) return b;
    if (b.empty()) return a;
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && ref_match(a[i], b[i])) ++i;
    return a.substr(0, i);
}

std::string ref_complete(const TreeNode& n, const std::string& query)
{
    if (query.empty()) return "";
    std::string answer;
    for (const TreeNode& child : n.children) {
        const std::size_t len = std::min(query.size(), child.name.size());
        std::size_t i = 0;
        while (i < len && ref_match(query[i], child.name[i])) ++i;
        if (i < len) continue;
        if (query.size() == child.name.size()) return child.name;
        if (query.size() > child.name.size()) {
            if (query[child.name.size()] != ' ') continue;
            const std::string below = ref_complete(child, query.substr(child.name.size() + 1));
            if (below.empty()) continue;
            answer = ref_common_prefix(answer, child.name + " " + below);
        } else if (answer.empty()) {
            answer = child.name + (child.children.empty() ? "" : " ");
        } else {
            answer = ref_common_prefix(answer, child.name);
        }
    }
    return answer;
}

// ---------------------------------------------------------------------------
// Random texts

class Texts {
public:
    explicit Texts(std::uint32_t seed) : rng_(seed) {}

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    // A free mix of the alphabet's tokens.
    std::string soup(std::size_t max_tokens)
    {
        static const char* const tokens[] = {"\t", "\t", "\t", "\n", "\n", "\r\n", "\r", ":", ": ", " ", " ",
                                             "a", "A", "b", "B", "@", "`", "[", "{", "1", "\x11", "\xC3\xA9",
                                             "\xC3\x89", "x"};
        std::string out;
        const std::size_t n = below(max_tokens + 1);
        for (std::size_t i = 0; i < n; ++i) {
            if (below(24) == 0) out.push_back('\0');
            else out += tokens[below(sizeof tokens / sizeof tokens[0])];
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

std::string normalised(const std::string& text, const std::string& separator)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            if (!out.empty() && i > 0 && text[i - 1] == '\r') out.pop_back();
            out += separator;
        } else {
            out.push_back(text[i]);
        }
    }
    if (!text.empty() && text.back() != '\n') out += separator;
    return out;
}

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

bool matches_under_rule(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!ref_match(a[i], b[i])) return false;
    return true;
}

constexpr int kTexts = 6000;

} // namespace

TEST(TreeProperties, ParseAgreesWithTheRecursiveReader)
{
    Texts texts(20261208);
    for (int i = 0; i < kTexts; ++i) {
        const std::string text = texts.text();
        const Tree tree = parse_tree(text);
        const Tree expected = ref_parse(text);
        ASSERT_TRUE(tree == expected) << "text: \"" << escaped(text) << "\"\ngot:\n"
                                      << dump(tree) << "reference:\n" << dump(expected);
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
            ASSERT_EQ(escaped(written), escaped(normalised(text, separator))) << "separator \"" << escaped(separator) << "\"";
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
            ASSERT_TRUE(exact || trailing_space) << "path \"" << escaped(path) << "\" found \"" << escaped(*got) << "\"";

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
        const std::string b = texts.below(2) ? texts.flip_case(a.substr(0, texts.below(a.size() + 1))) + texts.soup(3)
                                             : texts.soup(12);
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
