// The merges of documents: one table of cases per merge (each rule, duplicate names,
// empty documents, a value that became children), then laws checked over random
// edits of random trees with a fixed seed.

#include "tree/merge.h"
#include "tests/tree/tree_test_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct ThreeWayCase {
    const char* rule;
    const char* base;
    const char* ours;
    const char* theirs;
    const char* merged;
    std::vector<std::string> kept_twice;
};

const ThreeWayCase kThreeWay[] = {
    {"change on ours only", "a: 1\nb: 2\n", "a: 1\nb: 3\n", "a: 1\nb: 2\n", "a: 1\nb: 3\n", {}},
    {"change on theirs only", "a: 1\nb: 2\n", "a: 1\nb: 2\n", "a: 7\nb: 2\n", "a: 7\nb: 2\n", {}},
    {"changes on both sides to different nodes", "a: 1\nb: 2\n", "a: 5\nb: 2\n", "a: 1\nb: 6\n", "a: 5\nb: 6\n", {}},
    {"the same change on both sides, once", "a: 1\n", "a: 2\n", "a: 2\n", "a: 2\n", {}},
    {"a value changed differently: ours, then theirs",
     "a: 1\nb: 2\n",
     "a: 5\nb: 2\n",
     "a: 6\nb: 2\n",
     "a: 5\na: 6\nb: 2\n",
     {"a"}},
    {"a conflict deep down keeps its path",
     "mail\n\tgmail: x\n",
     "mail\n\tgmail: y\n",
     "mail\n\tgmail: z\n",
     "mail\n\tgmail: y\n\tgmail: z\n",
     {"mail gmail"}},
    {"deleted by ours, unchanged by theirs", "a: 1\nb: 2\n", "a: 1\n", "a: 1\nb: 2\n", "a: 1\n", {}},
    {"deleted by theirs, unchanged by ours", "a: 1\nb: 2\n", "a: 1\nb: 2\n", "b: 2\n", "b: 2\n", {}},
    {"deleted by ours, changed by theirs: kept",
     "a: 1\nb: 2\nc: 3\n",
     "a: 1\nc: 3\n",
     "a: 1\nb: 9\nc: 3\n",
     "a: 1\nb: 9\nc: 3\n",
     {}},
    {"deleted by theirs, changed below by ours: kept",
     "bank\n\tpin: 1\nz\n",
     "bank\n\tpin: 2\nz\n",
     "z\n",
     "bank\n\tpin: 2\nz\n",
     {}},
    {"added on both sides at one place: ours first",
     "a: 1\nz: 9\n",
     "a: 1\nx: 1\nz: 9\n",
     "a: 1\ny: 2\nz: 9\n",
     "a: 1\nx: 1\ny: 2\nz: 9\n",
     {}},
    {"added at the start on both sides",
     "a: 1\n",
     "o: 1\na: 1\n",
     "t: 1\nt2: 2\na: 1\n",
     "o: 1\nt: 1\nt2: 2\na: 1\n",
     {}},
    {"theirs' node follows the nearest survivor", "a\nb\nc\n", "a\nc\n", "a\nb\nnew\nc\n", "a\nnew\nc\n", {}},
    {"the order follows ours", "a\nb\n", "b\na\n", "a\nb\nc\n", "b\na\nc\n", {}},
    {"the same node added on both sides, once", "", "x: 1\n\ty: 2\n", "x: 1\n\ty: 2\n", "x: 1\n\ty: 2\n", {}},
    {"one name added on both sides with different values and children: both",
     "",
     "x: 1\n\tp: 1\n",
     "x: 2\n\tq: 2\n",
     "x: 1\n\tp: 1\nx: 2\n\tq: 2\n",
     {}},
    {"one name added on both sides, a value and children: one node", "", "x: 1\n", "x\n\tq: 2\n", "x: 1\n\tq: 2\n", {}},
    {"duplicate names match in order", "pw: 1\npw: 2\n", "pw: 1\npw: 3\n", "pw: 5\npw: 2\n", "pw: 5\npw: 3\n", {}},
    {"a second duplicate deleted by theirs", "pw: 1\npw: 2\n", "pw: 1\npw: 2\nq\n", "pw: 1\n", "pw: 1\nq\n", {}},
    {"names match byte for byte",
     "Mail: 1\n",
     "Mail: 1\nmail: 2\n",
     "MAIL: 3\nMail: 1\n",
     "MAIL: 3\nMail: 1\nmail: 2\n",
     {}},
    {"a value became children on ours", "email: x\n", "email\n\tgmail: y\n", "email: x\n", "email\n\tgmail: y\n", {}},
    {"a value became children on ours, changed on theirs",
     "email: x\n",
     "email\n\tgmail: y\n",
     "email: z\n",
     "email\n\tgmail: y\nemail: z\n",
     {"email"}},
    {"children became a value on theirs", "email\n\tgmail: y\n", "email\n\tgmail: y\n", "email: x\n", "email: x\n", {}},
    {"all documents empty", "", "", "", "", {}},
    {"empty base: both documents added", "", "a: 1\n", "b: 2\n", "a: 1\nb: 2\n", {}},
    {"everything deleted by theirs", "a: 1\nb\n\tc: 2\n", "a: 1\nb\n\tc: 2\n", "", "", {}},
};

TEST(MergeThreeWay, FollowsEachRule)
{
    for (const ThreeWayCase& c : kThreeWay) {
        SCOPED_TRACE(c.rule);
        const TreeMerge result = merge_three_way(parse_tree(c.base), parse_tree(c.ours), parse_tree(c.theirs));
        EXPECT_EQ(dump(result.merged), dump(parse_tree(c.merged)));
        EXPECT_EQ(result.kept_twice, c.kept_twice);
    }
}

struct TwoWayCase {
    const char* rule;
    const char* vault;
    const char* other;
    const char* merged;
    std::vector<std::string> kept_twice;
};

const TwoWayCase kTwoWay[] = {
    {"what both hold the same, once", "a: 1\nb\n\tc: 2\n", "a: 1\nb\n\tc: 2\n", "a: 1\nb\n\tc: 2\n", {}},
    {"a value held differently: the vault's first", "pw: a\n", "pw: b\n", "pw: a\npw: b\n", {"pw"}},
    {"other's nodes after the vault's, level by level",
     "a\n\tx: 1\nb: 2\n",
     "c: 3\na\n\ty: 2\n",
     "a\n\tx: 1\n\ty: 2\nb: 2\nc: 3\n",
     {}},
    {"an equal sibling counts as present", "pw: a\npw: b\n", "pw: b\n", "pw: a\npw: b\n", {}},
    {"two values, each with children: side by side",
     "bank: 1\n\tx: 1\n",
     "bank: 2\n\ty: 2\n",
     "bank: 1\n\tx: 1\nbank: 2\n\ty: 2\n",
     {}},
    {"one value with children, a group of that name: one node",
     "bank: 1\n\tx: 1\n",
     "bank\n\ty: 2\n",
     "bank: 1\n\tx: 1\n\ty: 2\n",
     {}},
    {"a value only other holds is taken", "bank\n\tx: 1\n", "bank: 7\n", "bank: 7\n\tx: 1\n", {}},
    {"duplicates of other matched in order",
     "pw: 1\npw: 2\n",
     "pw: 1\npw: 3\npw: 4\n",
     "pw: 1\npw: 2\npw: 3\npw: 4\n",
     {"pw"}},
    {"an empty vault takes other", "", "a: 1\n", "a: 1\n", {}},
    {"an empty other changes nothing", "a: 1\n", "", "a: 1\n", {}},
};

TEST(MergeTwoWay, FollowsEachRuleAndASecondMergeChangesNothing)
{
    for (const TwoWayCase& c : kTwoWay) {
        SCOPED_TRACE(c.rule);
        const Tree other = parse_tree(c.other);
        const TreeMerge once = merge_two_way(parse_tree(c.vault), other);
        EXPECT_EQ(dump(once.merged), dump(parse_tree(c.merged)));
        EXPECT_EQ(once.kept_twice, c.kept_twice);
        const TreeMerge twice = merge_two_way(once.merged, other);
        EXPECT_EQ(dump(twice.merged), dump(once.merged));
        EXPECT_TRUE(twice.kept_twice.empty());
    }
}

TEST(MergeThreeWay, NestsDeeperThanTheStackCouldRecurse)
{
    // One chain 50,000 levels deep, its leaf given a value on theirs.
    Tree deep;
    TreeNode* at = &deep;
    for (int i = 0; i < 50000; ++i) {
        at->children.emplace_back("n", "", false);
        at = &at->children.back();
    }
    Tree changed = deep;
    TreeNode* leaf = &changed;
    while (!leaf->children.empty()) leaf = &leaf->children.back();
    leaf->set_content("x");
    const TreeMerge result = merge_three_way(deep, deep, changed);
    EXPECT_TRUE(result.merged == changed);
}

// ---------------------------------------------------------------------------
// Laws over random edits

class Edits {
public:
    explicit Edits(std::uint32_t seed) : rng_(seed) {}

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    // A small tree whose few names repeat among siblings.
    Tree random_tree()
    {
        Tree root;
        fill(root, 0);
        return root;
    }

    // The tree with random values changed, nodes deleted, added and turned into groups.
    // Every new value is fresh, so a value found in the result came from this edit.
    Tree edit(const Tree& tree)
    {
        Tree out = tree;
        std::vector<TreeNode*> pending{&out};
        while (!pending.empty()) {
            TreeNode* parent = pending.back();
            pending.pop_back();
            std::vector<TreeNode> kept;
            for (TreeNode& child : parent->children) {
                switch (below(10)) {
                case 0: continue;  // deleted
                case 1: child.set_content(fresh()); break;
                case 2:
                    kept.emplace_back(name(), fresh(), true);  // added before it
                    break;
                case 3:
                    child.single_line = false;
                    child.content.clear();
                    child.children.emplace_back(name(), fresh(), true);
                    break;
                default: break;
                }
                kept.push_back(std::move(child));
            }
            if (below(6) == 0) kept.emplace_back(name(), fresh(), true);
            parent->children = std::move(kept);
            for (TreeNode& child : parent->children) pending.push_back(&child);
        }
        return out;
    }

private:
    std::string name() { return std::string(1, "abcA"[below(4)]); }
    std::string fresh() { return "v" + std::to_string(++counter_); }

    void fill(TreeNode& parent, int level)
    {
        const std::size_t n = below(level == 0 ? 7 : 4);
        for (std::size_t i = 0; i < n; ++i) {
            const bool with_value = below(3) != 0;
            parent.children.emplace_back(name(), with_value ? fresh() : std::string(), with_value);
            if (level < 3 && below(3) == 0) fill(parent.children.back(), level + 1);
        }
    }

    std::mt19937 rng_;
    int counter_ = 0;
};

// Every (path, value) of a tree.
std::set<std::pair<std::string, std::string>> values_of(const Tree& tree)
{
    std::set<std::pair<std::string, std::string>> out;
    std::vector<std::pair<const TreeNode*, std::string>> pending{{&tree, std::string()}};
    while (!pending.empty()) {
        const TreeNode* n = pending.back().first;
        const std::string path = pending.back().second;
        pending.pop_back();
        for (const TreeNode& child : n->children) {
            const std::string child_path = path.empty() ? child.name : path + " " + child.name;
            if (child.single_line) out.emplace(child_path, child.content);
            pending.emplace_back(&child, child_path);
        }
    }
    return out;
}

void expect_new_values_kept(const Tree& base, const Tree& side, const Tree& merged)
{
    const auto before = values_of(base);
    const auto after = values_of(merged);
    for (const auto& v : values_of(side)) {
        if (before.count(v) == 0) {
            EXPECT_EQ(after.count(v), 1u) << v.first << ": " << v.second;
        }
    }
}

TEST(MergeLaws, HoldOverRandomEdits)
{
    Edits edits(20261209);
    for (int round = 0; round < 1500; ++round) {
        const Tree base = edits.random_tree();
        const Tree x = edits.edit(base);
        const Tree y = edits.edit(base);
        SCOPED_TRACE("base\n" + dump(base) + "x\n" + dump(x) + "y\n" + dump(y));
        ASSERT_EQ(dump(merge_three_way(base, x, base).merged), dump(x));
        ASSERT_EQ(dump(merge_three_way(base, base, y).merged), dump(y));
        ASSERT_EQ(dump(merge_three_way(base, x, x).merged), dump(x));
        const TreeMerge both = merge_three_way(base, x, y);
        expect_new_values_kept(base, x, both.merged);
        expect_new_values_kept(base, y, both.merged);

        const TreeMerge folded = merge_two_way(x, y);
        expect_new_values_kept(Tree(), x, folded.merged);
        expect_new_values_kept(Tree(), y, folded.merged);
        ASSERT_EQ(dump(merge_two_way(folded.merged, y).merged), dump(folded.merged));
        if (HasFailure()) return;
    }
}

}  // namespace
