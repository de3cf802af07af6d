#pragma once
// Small helpers shared by the tree tests: building expected trees by hand and
// printing trees readably (escaped() is in tests/support) in failure messages.

#include "tests/support/files.h"
#include "tree/tree.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

// A plain node ("name" with no ": ") with the given children.
inline TreeNode node(std::string name, std::initializer_list<TreeNode> children = {})
{
    TreeNode n(std::move(name), std::string(), false);
    n.children.assign(children.begin(), children.end());
    return n;
}

// A single-line node (name, ": ", content) with the given children.
inline TreeNode value(std::string name, std::string content, std::initializer_list<TreeNode> children = {})
{
    TreeNode n(std::move(name), std::move(content), true);
    n.children.assign(children.begin(), children.end());
    return n;
}

inline Tree root(std::initializer_list<TreeNode> children)
{
    return node(std::string(), children);
}

// One line per node: indentation by level, then the escaped name, and for a
// single-line node " => " and the escaped content. Only for small trees.
inline std::string dump(const TreeNode& tree)
{
    std::string out;
    for_each_below(tree, [&out](const TreeNode& n, std::size_t level, std::size_t) {
        out += std::string(level * 2, ' ') + "[" + escaped(n.name) + "]";
        if (n.single_line) out += " => [" + escaped(n.content) + "]";
        out += "\n";
    });
    return out.empty() ? "(no nodes)\n" : out;
}
