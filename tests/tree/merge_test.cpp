// The merges of documents: one table of cases per merge (each rule, duplicate names,
// empty documents, a value that became children), then laws checked over random
// edits of random trees with a fixed seed.

#include "tree/merge.h"
#include "tests/tree/tree_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
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
    {"an entry deleted by theirs and changed by ours keeps its own lines",
     "Google\n\tuser: alice\n\tpassword: p1\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: alice\n\tpassword: p2\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: alice\n\tpassword: p2\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     {}},
    {"an entry deleted by ours and changed by theirs keeps its own lines",
     "Google\n\tuser: alice\n\tpassword: p1\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: alice\n\tpassword: p2\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: alice\n\tpassword: p2\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     {}},
    {"entries of one name follow their lines, not their order",
     "Google\n\tuser: alice\n\tpassword: p1\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: bob\n\tpassword: q2\n",
     "Google\n\tuser: alice\n\tpassword: p1\nGoogle\n\tuser: bob\n\tpassword: q3\n",
     "Google\n\tuser: bob\n\tpassword: q2\n\tpassword: q3\n",
     {"Google password"}},
    {"two entries of one name added on both sides for different users: both",
     "",
     "Google\n\tuser: u10\n\tpassword: p11\n",
     "Google\n\tuser: u29\n\tpassword: p30\n",
     "Google\n\tuser: u10\n\tpassword: p11\nGoogle\n\tuser: u29\n\tpassword: p30\n",
     {}},
    {"two groups of one name added on both sides: one group",
     "",
     "Travel\n\tHotel\n\t\tuser: h\n",
     "Travel\n\tFlight\n\t\tuser: f\n",
     "Travel\n\tHotel\n\t\tuser: h\n\tFlight\n\t\tuser: f\n",
     {}},
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
     "c: 3\na\n\tx: 1\n\ty: 2\n",
     "a\n\tx: 1\n\ty: 2\nb: 2\nc: 3\n",
     {}},
    {"an equal sibling counts as present", "pw: a\npw: b\n", "pw: b\n", "pw: a\npw: b\n", {}},
    {"two values, each with children: side by side",
     "bank: 1\n\tx: 1\n",
     "bank: 2\n\ty: 2\n",
     "bank: 1\n\tx: 1\nbank: 2\n\ty: 2\n",
     {}},
    {"one value with children, an entry of that name sharing no line: side by side",
     "bank: 1\n\tx: 1\n",
     "bank\n\ty: 2\n",
     "bank: 1\n\tx: 1\nbank\n\ty: 2\n",
     {}},
    {"a value only other holds is taken", "bank\n\tx: 1\n", "bank: 7\n", "bank: 7\n\tx: 1\n", {}},
    {"duplicates of other matched in order",
     "pw: 1\npw: 2\n",
     "pw: 1\npw: 3\npw: 4\n",
     "pw: 1\npw: 2\npw: 3\npw: 4\n",
     {"pw"}},
    {"an entry that shares only its name stays beside",
     "Google\n\tuser: alice\n\tpassword: p1\n",
     "Google\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: alice\n\tpassword: p1\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     {}},
    {"entries of one name meet the one that holds their lines",
     "Google\n\tuser: alice\n\tpassword: p1\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: bob\n\tpassword: q1\nGoogle\n\tuser: alice\n\tpassword: p2\n",
     "Google\n\tuser: alice\n\tpassword: p1\n\tpassword: p2\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     {"Google password"}},
    {"groups of one name become one",
     "Travel\n\tHotel\n\t\tuser: h\n",
     "Travel\n\tFlight\n\t\tuser: f\n",
     "Travel\n\tHotel\n\t\tuser: h\n\tFlight\n\t\tuser: f\n",
     {}},
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

// Entries of one name pair only where what they hold shows that they are one: the
// contract as the manual's sync page states it, and the inputs that used to move a
// line into another entry. An empty base marks a two-way case (vault, other).
struct EvidenceCase {
    const char* rule;
    const char* base;  // null: two-way
    const char* ours;
    const char* theirs;
    const char* merged;
    std::vector<std::string> kept_twice;
};

#define GOOGLE(user, password)                                                                                         \
    "Google\n\turl: https://accounts.google.com\n\tuser: " user "\n\tpassword: " password "\n"

const EvidenceCase kEvidence[] = {
    {"two-way: two accounts of one site sharing the url stay two",
     nullptr,
     GOOGLE("alice", "p1"),
     GOOGLE("bob", "q1"),
     GOOGLE("alice", "p1") GOOGLE("bob", "q1"),
     {}},
    {"an entry replaced on ours never takes theirs' edit of the old one",
     "Google\n\tuser: alice\n\tpassword: p1\n",
     "Google\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: alice\n\tpassword: p1\n\trecovery: R-alice\n",
     "Google\n\tuser: bob\n\tpassword: q1\nGoogle\n\tuser: alice\n\tpassword: p1\n\trecovery: R-alice\n",
     {}},
    {"the same with one more unrelated entry of that name in all three",
     "Google\n\tuser: zed\n\tpassword: z\nGoogle\n\tuser: alice\n\tpassword: p1\n",
     "Google\n\tuser: zed\n\tpassword: z\nGoogle\n\tuser: bob\n\tpassword: q1\n",
     "Google\n\tuser: zed\n\tpassword: z\nGoogle\n\tuser: alice\n\tpassword: p1\n\trecovery: R-alice\n",
     "Google\n\tuser: zed\n\tpassword: z\nGoogle\n\tuser: bob\n\tpassword: q1\n"
     "Google\n\tuser: alice\n\tpassword: p1\n\trecovery: R-alice\n",
     {}},
    {"two with one url: ours deletes alice's and adds carol's, theirs notes alice's",
     GOOGLE("alice", "p1") GOOGLE("bob", "q1"),
     GOOGLE("bob", "q1") GOOGLE("carol", "r1"),
     GOOGLE("alice", "p1") "\tnote: n\n" GOOGLE("bob", "q1"),
     GOOGLE("alice", "p1") "\tnote: n\n" GOOGLE("bob", "q1") GOOGLE("carol", "r1"),
     {}},
    {"one-line entries follow their line",
     "Wifi\n\tpassword: home1\nWifi\n\tpin: 1234\n",
     "Wifi\n\tpassword: home2\nWifi\n\tpin: 1234\n",
     "Wifi\n\tpassword: home1\nWifi\n\tpin: 5678\n",
     "Wifi\n\tpassword: home2\nWifi\n\tpin: 5678\n",
     {}},
    {"a renamed account meets a changed password",
     "Google\n\tuser: alice\n\tpassword: p1\n",
     "Google\n\tuser: alice.smith\n\tpassword: p1\n",
     "Google\n\tuser: alice\n\tpassword: p2\n",
     "Google\n\tuser: alice.smith\n\tpassword: p2\n",
     {}},
    {"one entry changed differently: the value kept twice",
     "Wifi\n\tpassword: home1\n",
     "Wifi\n\tpassword: home2\n",
     "Wifi\n\tpassword: home3\n",
     "Wifi\n\tpassword: home2\n\tpassword: home3\n",
     {"Wifi password"}},
    {"every value changed on ours, a line added on theirs",
     "email\n\tgmail: a\n\tgmx: b\n",
     "email\n\tgmail: a2\n\tgmx: b2\n",
     "email\n\tgmail: a\n\tgmx: b\n\toutlook: c\n",
     "email\n\tgmail: a2\n\tgmx: b2\n\toutlook: c\n",
     {}},
    {"two-way: one user, other values differing too: two entries",
     nullptr,
     "Slack\n\temail: a\n\turl: A\n\tpassword: 1\n",
     "Slack\n\temail: a\n\turl: B\n\tpassword: 2\n",
     "Slack\n\temail: a\n\turl: A\n\tpassword: 1\nSlack\n\temail: a\n\turl: B\n\tpassword: 2\n",
     {}},
    {"two-way: one user, only the password differing: one entry",
     nullptr,
     GOOGLE("alice", "p1"),
     GOOGLE("alice", "p2"),
     GOOGLE("alice", "p1") "\tpassword: p2\n",
     {"Google password"}},
    {"two-way: a renamed account is one",
     nullptr,
     "Google\n\tuser: alice\n\tpassword: p1\n",
     "Google\n\tuser: alice.smith\n\tpassword: p1\n",
     "Google\n\tuser: alice\n\tuser: alice.smith\n\tpassword: p1\n",
     {"Google user"}},
    {"a user that differs while other values differ too: both",
     "Google\n\tuser: alice\n\tpassword: p1\n",
     "Google\n\tuser: alice\n\tpassword: p1\n",
     "Google\n\tuser: alice2\n\tpassword: p2\n",
     "Google\n\tuser: alice2\n\tpassword: p2\n",
     {}},
    {"two entries with one user on a side: neither told apart by it, the changed one by its lines",
     "Mail\n\tuser: x\n\tpassword: 1\n\tpin: 9\nMail\n\tuser: x\n\tpassword: 2\n\tnote: n\n",
     "Mail\n\tuser: x\n\tpassword: 1\n\tpin: 8\nMail\n\tuser: x\n\tpassword: 2\n\tnote: n\n",
     "Mail\n\tuser: x\n\tpassword: 1\n\tpin: 9\nMail\n\tuser: x\n\tpassword: 3\n\tnote: n\n",
     "Mail\n\tuser: x\n\tpassword: 1\n\tpin: 8\nMail\n\tuser: x\n\tpassword: 3\n\tnote: n\n",
     {}},
    {"two one-line entries alike on a side, both changed: both kept, neither fused",
     "Wifi\n\tpassword: a\nWifi\n\tpassword: b\n",
     "Wifi\n\tpassword: a2\nWifi\n\tpassword: b2\n",
     "Wifi\n\tpassword: a\nWifi\n\tpassword: b\n",
     "Wifi\n\tpassword: a2\nWifi\n\tpassword: b2\n",
     {}},
};

#undef GOOGLE

TEST(MergeByEvidence, FollowsTheContract)
{
    for (const EvidenceCase& c : kEvidence) {
        SCOPED_TRACE(c.rule);
        const Tree ours = parse_tree(c.ours);
        const Tree theirs = parse_tree(c.theirs);
        const TreeMerge result =
            c.base ? merge_three_way(parse_tree(c.base), ours, theirs) : merge_two_way(ours, theirs);
        EXPECT_EQ(dump(result.merged), dump(parse_tree(c.merged)));
        EXPECT_EQ(result.kept_twice, c.kept_twice);
        if (c.base) continue;
        const TreeMerge again = merge_two_way(result.merged, theirs);
        EXPECT_EQ(dump(again.merged), dump(result.merged));
    }
}

// One level of `count` entries named "e" of `lines` lines each: a url all share, and
// lines of their own; with users (distinct) or without (then only the shared url and
// the lines' values tell entries apart, and comparing every pair costs too much).
Tree large_level(std::size_t count, std::size_t lines, bool with_users)
{
    Tree tree;
    tree.children.reserve(count);
    for (std::size_t n = 0; n < count; ++n) {
        TreeNode entry("e", std::string(), false);
        entry.children.emplace_back("url", "https://example.org", true);
        if (with_users) entry.children.emplace_back("user", "u" + std::to_string(n), true);
        while (entry.children.size() < lines)
            entry.children.emplace_back("f" + std::to_string(entry.children.size()),
                                        "v" + std::to_string(n) + "." + std::to_string(entry.children.size()), true);
        tree.children.push_back(std::move(entry));
    }
    return tree;
}

// Ours changes entry 5; theirs changes entry 9 and deletes entry 7: the merge is
// exact, nothing duplicated and the deletion kept, whether users tell the entries
// apart or only lines that comparing every pair would cost too much to weigh.
void expect_large_level_exact(std::size_t count, std::size_t lines)
{
    for (const bool with_users : {true, false}) {
        SCOPED_TRACE(with_users ? "with users" : "without users");
        const Tree base = large_level(count, lines, with_users);
        Tree ours = base;
        ours.children[5].children.back().content = "ours";
        Tree theirs = base;
        theirs.children[9].children.back().content = "theirs";
        theirs.children.erase(theirs.children.begin() + 7);
        Tree expected = ours;
        expected.children[9] = theirs.children[8];
        expected.children.erase(expected.children.begin() + 7);
        const TreeMerge merged = merge_three_way(base, ours, theirs);
        ASSERT_EQ(merged.merged.children.size(), expected.children.size());
        EXPECT_TRUE(merged.merged == expected);
        EXPECT_TRUE(merged.kept_twice.empty());
        // Swapped sides give the same document.
        if (!with_users) {
            EXPECT_TRUE(merge_three_way(base, theirs, ours).merged == expected);
        }
    }
}

TEST(MergeByEvidence, LargeLevelOf4000EntriesOf20LinesIsExact)
{
    expect_large_level_exact(4000, 20);
}

TEST(MergeByEvidence, LargeLevelOf20000EntriesOf5LinesIsExact)
{
    expect_large_level_exact(20000, 5);
}

TEST(MergeByEvidence, LargeLevelsTwoWay)
{
    // Every password changed: each entry meets its own by the user, the old value kept
    // first; a second merge changes nothing.
    const Tree vault = large_level(20000, 5, true);
    Tree other = vault;
    for (TreeNode& entry : other.children) entry.children.back().content += "-new";
    const TreeMerge merged = merge_two_way(vault, other);
    ASSERT_EQ(merged.merged.children.size(), vault.children.size());
    for (std::size_t n = 0; n < vault.children.size(); ++n) {
        TreeNode expected = vault.children[n];
        expected.children.push_back(other.children[n].children.back());
        ASSERT_TRUE(merged.merged.children[n] == expected) << n;
    }
    EXPECT_EQ(merged.kept_twice.size(), vault.children.size());
    EXPECT_TRUE(merge_two_way(merged.merged, other).merged == merged.merged);
    // Without users, nothing says which entry is which: all of other's stay beside.
    const Tree plain = large_level(20000, 5, false);
    Tree plain_other = plain;
    for (TreeNode& entry : plain_other.children) entry.children.back().content += "-new";
    const TreeMerge side_by_side = merge_two_way(plain, plain_other);
    ASSERT_EQ(side_by_side.merged.children.size(), 2 * plain.children.size());
    EXPECT_TRUE(merge_two_way(plain, plain).merged == plain);
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

TEST(MergeThreeWay, ALevelTooLargeToCompareKeepsEachEntryWhole)
{
    // 3,000 entries of one name share one line, so that comparing every pair would
    // cost millions: only the lines that one entry holds pair them, and nothing fuses.
    auto entries = [](int change_every, const char* password) {
        Tree tree;
        for (int n = 0; n < 3000; ++n) {
            tree.children.push_back(node("e",
                                         {value("url", "https://example.org"), value("user", "u" + std::to_string(n)),
                                          value("password", n % change_every == 0 ? password : "p")}));
            tree.children.back().children[2].content += std::to_string(n);
        }
        return tree;
    };
    const Tree base = entries(1 << 30, "");
    const Tree ours = entries(2, "new");
    Tree theirs = base;
    Tree expected = ours;
    std::vector<TreeNode> kept;
    for (std::size_t n = 0; n < 3000; ++n)
        if (n % 3 != 0) kept.push_back(theirs.children[n]);
    theirs.children = kept;
    kept.clear();
    for (std::size_t n = 0; n < 3000; ++n)  // deleted by theirs, unchanged by ours: gone
        if (n % 3 != 0 || n % 2 == 0) kept.push_back(expected.children[n]);
    expected.children = kept;
    const Tree merged = merge_three_way(base, ours, theirs).merged;
    ASSERT_EQ(merged.children.size(), expected.children.size());
    for (std::size_t i = 0; i < expected.children.size(); ++i)
        ASSERT_EQ(dump(merged.children[i]), dump(expected.children[i])) << i;
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

// Calls `visit(node, path)` for every node below `tree`, where `path` is the names
// from the top down to the node's own, each after `separator`.
template <class Visit>
void for_each_below(const Tree& tree, char separator, Visit visit)
{
    std::vector<std::pair<const TreeNode*, std::string>> pending{{&tree, std::string()}};
    while (!pending.empty()) {
        const TreeNode* n = pending.back().first;
        const std::string path = pending.back().second;
        pending.pop_back();
        for (const TreeNode& child : n->children) {
            const std::string child_path = path + separator + child.name;
            visit(child, child_path);
            pending.emplace_back(&child, child_path);
        }
    }
}

// Every (path, value) of a tree.
std::set<std::pair<std::string, std::string>> values_of(const Tree& tree)
{
    std::set<std::pair<std::string, std::string>> out;
    for_each_below(tree, ' ', [&](const TreeNode& node, const std::string& path) {
        if (node.single_line) out.emplace(path.substr(1), node.content);
    });
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

// Every line of `merged` (its path of names, flag and content) is one of the sources'.
void expect_lines_from(const Tree& merged, std::initializer_list<const Tree*> sources)
{
    auto lines_of = [](const Tree& tree) {
        std::set<std::string> out;
        for_each_below(tree, '/', [&](const TreeNode& node, const std::string& path) {
            out.insert(path + (node.single_line ? ": " + node.content : std::string()));
        });
        return out;
    };
    std::set<std::string> known;
    for (const Tree* source : sources) {
        const std::set<std::string> lines = lines_of(*source);
        known.insert(lines.begin(), lines.end());
    }
    for (const std::string& line : lines_of(merged)) EXPECT_EQ(known.count(line), 1u) << line;
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
        expect_lines_from(both.merged, {&base, &x, &y});

        const TreeMerge folded = merge_two_way(x, y);
        expect_new_values_kept(Tree(), x, folded.merged);
        expect_new_values_kept(Tree(), y, folded.merged);
        expect_lines_from(folded.merged, {&x, &y});
        ASSERT_EQ(dump(merge_two_way(folded.merged, y).merged), dump(folded.merged));
        if (HasFailure()) return;
    }
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Following identities: documents of groups and entries whose names repeat, each
// node carrying an identity through the edits of both sides. The expected merge is
// worked out from the identities alone; the merge sees only the text.

struct Item {
    enum Kind { kGroup, kEntry, kLine };
    Kind kind;
    int id;
    std::string name;
    std::string content;  // lines only
    std::vector<Item> children;
};

TreeNode tree_of(const Item& item)
{
    TreeNode n(item.name, item.content, item.kind == Item::kLine);
    for (const Item& child : item.children) n.children.push_back(tree_of(child));
    return n;
}

Tree tree_of(const std::vector<Item>& items)
{
    Tree root;
    for (const Item& item : items) root.children.push_back(tree_of(item));
    return root;
}

// Children sorted at every level: the order is the table's business, not this test's.
std::string canonical(const TreeNode& n)
{
    std::vector<std::string> children;
    for (const TreeNode& child : n.children) children.push_back(canonical(child));
    std::sort(children.begin(), children.end());
    std::string out = escaped(n.name) + (n.single_line ? "=" + escaped(n.content) : std::string()) + "{";
    for (const std::string& child : children) out += child + ",";
    return out + "}";
}

const Item* find_id(const std::vector<Item>& items, int id)
{
    for (const Item& item : items)
        if (item.id == id) return &item;
    return nullptr;
}

// The merge by identity: what both sides hold is merged, a line changed differently
// on both sides is kept twice, what one side deleted goes unless the other changed
// it, what a side added stays; groups of one name added on both sides become one
// (the k-th with the k-th); entries added on both sides never meet (they hold
// different users).
std::vector<Item> merge_by_identity(const std::vector<Item>& base, const std::vector<Item>& ours,
                                    const std::vector<Item>& theirs)
{
    std::vector<Item> out;
    for (const Item& b : base) {
        const Item* o = find_id(ours, b.id);
        const Item* t = find_id(theirs, b.id);
        if (o && t) {
            if (b.kind == Item::kLine) {
                if (o->content == b.content) {
                    out.push_back(*t);
                } else {
                    out.push_back(*o);
                    if (t->content != b.content && t->content != o->content) out.push_back(*t);
                }
                continue;
            }
            Item merged = b;
            merged.children = merge_by_identity(b.children, o->children, t->children);
            out.push_back(merged);
        } else if (o || t) {
            const Item& kept = o ? *o : *t;
            if (tree_of(kept) != tree_of(b)) out.push_back(kept);
        }
    }
    std::vector<const Item*> theirs_groups;
    for (const Item& t : theirs)
        if (!find_id(base, t.id)) {
            if (t.kind == Item::kGroup)
                theirs_groups.push_back(&t);
            else
                out.push_back(t);
        }
    for (const Item& o : ours) {
        if (find_id(base, o.id)) continue;
        Item merged = o;
        for (const Item*& t : theirs_groups) {
            if (o.kind != Item::kGroup || !t || t->name != o.name) continue;
            merged.children = merge_by_identity({}, o.children, t->children);
            t = nullptr;
            break;
        }
        out.push_back(merged);
    }
    for (const Item* t : theirs_groups)
        if (t) out.push_back(*t);
    return out;
}

// Whether the merge can see that two versions of one entry are one, as the manual
// states it: equal; the same first user-name line; a user name changed while every
// other line is equal; without user names on both, the same line names, or more
// lines shared than names whose values changed.
bool recognisable(const Item& before, const Item& after)
{
    auto user_of = [](const Item& e) -> const Item* {
        for (const Item& line : e.children)
            if (line.name == "user" || line.name == "email") return &line;
        return nullptr;
    };
    auto lines_without = [](const Item& e, const Item* skip) {
        std::multiset<std::pair<std::string, std::string>> out;
        for (const Item& line : e.children)
            if (&line != skip) out.emplace(line.name, line.content);
        return out;
    };
    const Item* ub = user_of(before);
    const Item* ua = user_of(after);
    if (ub && ua) return ub->content == ua->content || lines_without(before, ub) == lines_without(after, ua);
    std::map<std::string, std::multiset<std::string>> b_values, a_values;
    for (const Item& line : before.children) b_values[line.name].insert(line.content);
    for (const Item& line : after.children) a_values[line.name].insert(line.content);
    std::size_t shared = 0, changed = 0, only = 0;
    for (const auto& [name, values] : b_values) {
        const auto other = a_values.find(name);
        if (other == a_values.end()) {
            ++only;
            continue;
        }
        changed += values != other->second;
        for (const std::string& v : values) shared += other->second.count(v) > 0;
    }
    for (const auto& named : a_values) only += b_values.count(named.first) == 0;
    return only == 0 || (shared > 0 && changed < shared);
}

// `side` with each entry that its base version cannot be recognised in given a new
// identity: for the merge it is another entry, the base's deleted on that side.
std::vector<Item> as_recognised(const std::vector<Item>& base, std::vector<Item> side, int& next_id)
{
    for (Item& item : side) {
        const Item* b = find_id(base, item.id);
        if (!b) continue;
        if (item.kind == Item::kGroup)
            item.children = as_recognised(b->children, item.children, next_id);
        else if (item.kind == Item::kEntry && !recognisable(*b, item))
            item.id = next_id++;
    }
    return side;
}

// Documents of groups and entries whose names repeat, and the edits of one side:
// lines changed, added and deleted; entries added (also where one of that name was
// deleted), deleted, rewritten whole, their user renamed; entries reordered.
// Entries with users have fresh user names; many share one url; one-line entries
// (no user) of one name at one level never hold the same line name, so that the
// evidence can tell them apart.
class IdentityEdits {
public:
    explicit IdentityEdits(std::uint32_t seed) : rng_(seed) {}

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    std::vector<Item> document()
    {
        std::vector<Item> root;
        wifi_lines_.clear();
        const std::size_t groups = 1 + below(3);
        for (std::size_t g = 0; g < groups; ++g) root.push_back(group());
        const std::size_t entries = below(4);
        for (std::size_t e = 0; e < entries; ++e) insert_somewhere(root, entry(""));
        return root;
    }

    // One to five edits. Each entry is edited at most once, and a group keeps at
    // least one of its entries as it was, so that the group can be told by it.
    std::vector<Item> edit(const std::vector<Item>& doc)
    {
        std::vector<Item> out = doc;
        std::set<int> touched;
        const std::size_t edits = 1 + below(5);
        for (std::size_t k = 0; k < edits; ++k) {
            std::vector<std::pair<std::vector<Item>*, std::string>> levels{{&out, ""}};  // children, group name
            for (Item& item : out)
                if (item.kind == Item::kGroup) levels.emplace_back(&item.children, item.name);
            const auto chosen = levels[below(levels.size())];
            std::vector<Item>& level = *chosen.first;
            const bool top = &level == &out;
            std::vector<std::size_t> open;  // entries of the level not yet edited
            std::size_t kept = 0;
            for (std::size_t i = 0; i < level.size(); ++i) {
                if (level[i].kind != Item::kEntry) continue;
                if (touched.count(level[i].id) == 0) open.push_back(i);
                kept += level[i].id < first_new_id_ && touched.count(level[i].id) == 0;
            }
            const std::size_t action = below(9);
            if (action == 0) {  // add an entry, or at the top a group
                insert_somewhere(level, top && below(3) == 0 ? group() : entry(chosen.second));
                continue;
            }
            if (action == 1) {  // reorder the level
                std::shuffle(level.begin(), level.end(), rng_);
                continue;
            }
            if (open.empty() || (!top && kept < 2)) continue;
            const std::size_t at = open[below(open.size())];
            Item& e = level[at];
            touched.insert(e.id);
            switch (action) {
            case 2: e.children[below(e.children.size())].content = fresh(); break;  // change a line
            case 3: {  // add a line
                const std::string name = pick({"url", "pin", "email", "note"});
                bool held = false;
                for (const Item& line : e.children) held = held || line.name == name;
                if (!held) insert_somewhere(e.children, line(name));
                break;
            }
            case 4:  // delete a line other than the user
                if (e.children.size() > 2) e.children.erase(e.children.begin() + 1 + below(e.children.size() - 1));
                break;
            case 5:  // rename the user
                for (Item& line : e.children)
                    if (line.name == "user") line.content = fresh();
                break;
            case 6:  // rewrite every line
                for (Item& line : e.children) line.content = fresh();
                break;
            case 7: {  // delete it and add another of that name
                const std::string name = e.name;
                level.erase(level.begin() + static_cast<std::ptrdiff_t>(at));
                Item other = entry(chosen.second);
                other.name = name;
                insert_somewhere(level, other);
                break;
            }
            default: level.erase(level.begin() + static_cast<std::ptrdiff_t>(at)); break;  // delete it
            }
        }
        return out;
    }

    void start_edits() { first_new_id_ = next_id_; }
    int& next_id() { return next_id_; }

private:
    std::string pick(std::initializer_list<const char*> names) { return names.begin()[below(names.size())]; }
    std::string fresh() { return "v" + std::to_string(++values_); }

    template <class T>
    void insert_somewhere(std::vector<T>& list, T item)
    {
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(below(list.size() + 1)), std::move(item));
    }

    Item line(const std::string& name) { return {Item::kLine, next_id_++, name, fresh(), {}}; }

    // An entry for a group named `parent` (empty: the top): a user and one or two
    // more lines, often the url all entries share; or a one-line entry named "Wifi"
    // whose line name no other one-line entry of a group of that name ever held
    // (groups of one name added on both sides become one).
    Item entry(const std::string& parent)
    {
        if (below(4) == 0) {
            std::set<std::string>& used = wifi_lines_[parent];
            for (const char* name : {"password", "pin", "code", "key", "phrase"})
                if (used.insert(name).second) {
                    Item e{Item::kEntry, next_id_++, "Wifi", "", {}};
                    e.children.push_back(line(name));
                    return e;
                }
        }
        Item e{Item::kEntry, next_id_++, pick({"Google", "Google", "Mail", "Shop"}), "", {}};
        e.children.push_back(line("user"));
        e.children.push_back(line("password"));
        if (below(2) == 0)
            e.children.push_back({Item::kLine, next_id_++, "url", "https://shared.example", {}});
        else if (below(2) == 0)
            e.children.push_back(line("url"));
        return e;
    }

    Item group()
    {
        Item g{Item::kGroup, next_id_++, pick({"Email", "Email", "Travel"}), "", {}};
        const std::size_t entries = 2 + below(3);
        for (std::size_t e = 0; e < entries; ++e) g.children.push_back(entry(g.name));
        return g;
    }

    std::mt19937 rng_;
    std::map<std::string, std::set<std::string>> wifi_lines_;  // by group name
    int next_id_ = 1;
    int values_ = 0;
    int first_new_id_ = 0;
};

TEST(MergeThreeWay, FollowsIdentitiesThroughRandomEdits)
{
    IdentityEdits edits(280);
    for (int round = 0; round < 2500; ++round) {  // 5,000 merges
        const std::vector<Item> base = edits.document();
        edits.start_edits();
        const std::vector<Item> x = edits.edit(base);
        const std::vector<Item> y = edits.edit(base);
        const Tree base_tree = tree_of(base);
        const Tree x_tree = tree_of(x);
        const Tree y_tree = tree_of(y);
        SCOPED_TRACE("base\n" + dump(base_tree) + "x\n" + dump(x_tree) + "y\n" + dump(y_tree));
        const std::vector<Item> x_seen = as_recognised(base, x, edits.next_id());
        const std::vector<Item> y_seen = as_recognised(base, y, edits.next_id());
        ASSERT_EQ(canonical(merge_three_way(base_tree, x_tree, y_tree).merged),
                  canonical(tree_of(merge_by_identity(base, x_seen, y_seen))));
        ASSERT_EQ(canonical(merge_three_way(base_tree, y_tree, x_tree).merged),
                  canonical(tree_of(merge_by_identity(base, y_seen, x_seen))));
        // A side that changed nothing gives the other side's document exactly.
        ASSERT_EQ(dump(merge_three_way(base_tree, base_tree, y_tree).merged), dump(y_tree));
        ASSERT_EQ(dump(merge_three_way(base_tree, x_tree, base_tree).merged), dump(x_tree));
        ASSERT_EQ(dump(merge_three_way(base_tree, x_tree, x_tree).merged), dump(x_tree));
    }
}

}  // namespace
