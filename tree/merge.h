#pragma once
// Merging documents by the tree.
//
// At every level, nodes are matched among their siblings. Entries (nodes whose
// children have no children) of one name pair only on evidence that they are one:
// equal subtrees; the same user name (the first user-name line, tree/fields.h) where
// no other open entry of that name on either side holds it; a user name changed
// while every other line is equal; or, scored by the lines they share, the same line
// names with few values changed, where no other candidate scores alike. Against a
// pair: a user name that differs while other values differ too; in the two-way merge,
// the same user name with two or more other values differing. Where the evidence
// cannot tell, both stay and no line moves from one to the other; a name with one
// entry on each side is no exception. Groups (nodes whose children have children) of
// one name pair by the lines they hold alike (a line: a descendant without children,
// or one with a single-line value, under the same chain of names); in the three-way
// merge a group alone on each side pairs with the other. Values (nodes without
// children) are matched by name, byte for byte and in order; in the three-way merge
// all but the pairs made by content are matched in order by name (as many nodes as
// can be; a node moved counts as deleted and added), never across such a pair.
// Equal subtrees, user names and renamed accounts are found through sorted hash keys,
// for each side separately and whatever the size; only the scoring has a budget
// (per level and side, and per merge), and over it nothing more is paired.
//
// Two nodes of one name that only the two sides hold (added on both sides; in the
// two-way merge, a value or group paired by name) become one node only when they
// are fusable: no name among their children without children holds different values
// on the two sides, and, when both have children, they do not hold two different
// values themselves. Otherwise both stay, ours (the vault's) first.
// A node's value is its flag and content; a plain node (no ": ") has none.
//
// Three-way (base, ours, theirs), where ours and theirs both started from base (a side
// equal to base gives the other side's document exactly):
// - a change made on one side only is taken; the same change on both sides once;
// - a value changed differently on both sides: ours stays on the node, and theirs
//   follows as a node of the same name holding only that value (kept twice);
// - a node deleted on one side and unchanged on the other is deleted; changed on the
//   other side (anywhere below it too), it is kept with the change;
// - nodes added on both sides with the same name: once when equal; values the k-th
//   with the k-th, merged as the two-way merge below merges two nodes; nodes with
//   children paired by content or name, merged so when fusable, else both kept;
// - the order follows ours; a node that only theirs holds follows its nearest
//   preceding sibling in theirs that survives, after any nodes that ours added there.
//
// Two-way (vault, other), with no common base: a node of other that equals a sibling
// in the vault (name, value, children; found through a hash index) is present; a
// value is merged with the vault's node of that name in order, an entry with the
// vault's that the evidence pairs it with, other nodes with children with the vault's
// that shares the most lines with it, or else the first (one of the same value first)
// it is fusable with, never an entry with an entry. Merged: values the same once; both single-line and different, the vault's
// stays and other's follows the last of the vault's nodes of that name, as a node of
// its own, unless a sibling of that name already holds it; a value only other holds
// is taken; children merged alike. Nodes without a match are added after the vault's
// nodes of that level. Merging the same other a second time changes nothing.
//
// Every line of a result sits under the chain of names it had on the side it came
// from, and every value that either side added or changed survives.
//
// Neither merge recurses: deep documents cost heap, not stack. Names and values are
// copied into the result; what content matching derives from them (hashes of lines)
// is wiped before its memory is released.

#include <cstddef>
#include <string>
#include <vector>

#include "tree/tree.h"

struct TreeMerge {
    Tree merged;
    // The paths (names joined by single spaces, as the filter box takes them) of the
    // nodes whose value was kept twice, level by level from the top.
    std::vector<std::string> kept_twice;

    TreeMerge() = default;
    TreeMerge(TreeMerge&&) noexcept = default;
    // Wipes what it held before taking the other's.
    TreeMerge& operator=(TreeMerge&& other) noexcept;
    TreeMerge(const TreeMerge&) = delete;
    TreeMerge& operator=(const TreeMerge&) = delete;
    // Wipes the merged document and the paths.
    ~TreeMerge();
};

// The matching by which the three-way merge pairs a side's nodes with the base's, for
// readers that follow nodes from one version of a document to an earlier one (the
// backups' history): for each node of `newer`, the index of its match in `older`, or
// kNoMatch. Throws std::bad_alloc.
inline constexpr std::size_t kNoMatch = static_cast<std::size_t>(-1);
std::vector<std::size_t> match_siblings(const std::vector<TreeNode>& newer, const std::vector<TreeNode>& older);

// Throws std::bad_alloc (what was built is wiped first).
TreeMerge merge_three_way(const Tree& base, const Tree& ours, const Tree& theirs);
TreeMerge merge_two_way(const Tree& vault, const Tree& other);
