#pragma once
// Merging documents by the tree.
//
// At every level, nodes are matched among their siblings by name, byte for byte and
// in order. The three-way merge matches each side with the base keeping the order of
// both (as many nodes as can be; a node moved counts as deleted and added), and
// nodes that both sides added meet the k-th named N with the k-th named N; the
// two-way merge matches the k-th node named N in one list with the k-th in the other.
// A node's value is its flag and content; a plain node (no ": ") has none.
//
// Three-way (base, ours, theirs), where ours and theirs both started from base:
// - a change made on one side only is taken; the same change on both sides once;
// - a value changed differently on both sides: ours stays on the node, and theirs
//   follows as a node of the same name holding only that value (kept twice);
// - a node deleted on one side and unchanged on the other is deleted; changed on the
//   other side (anywhere below it too), it is kept with the change;
// - nodes added on both sides with the same name: once when equal, else merged as
//   the two-way merge below merges two nodes;
// - the order follows ours; a node that only theirs holds follows its nearest
//   preceding sibling in theirs that survives, after any nodes that ours added there.
//
// Two-way (vault, other), with no common base: a node of other that equals a sibling
// in the vault (name, value, children) is present; otherwise it is merged with the
// vault's node of that name in order (values: the same once; both single-line and
// different, the vault's stays and other's follows the last of the vault's nodes of
// that name, as a node of its own, unless a sibling of that name already holds it; a value only other holds is taken; children
// merged alike), and nodes without a match are added after the vault's nodes of that
// level. Merging the same other a second time changes nothing.
//
// Neither merge recurses: deep documents cost heap, not stack. Names and values are
// copied into the result; no other copy of them is made on the way.

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

// Throws std::bad_alloc (what was built is wiped first).
TreeMerge merge_three_way(const Tree& base, const Tree& ours, const Tree& theirs);
TreeMerge merge_two_way(const Tree& vault, const Tree& other);
