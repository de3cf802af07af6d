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
    std::vector<std::pair<const TreeNode*, std::size_t>> stack;
    for (std::size_t i = tree.children.size(); i-- > 0;) stack.emplace_back(&tree.children[i], 0);
    while (!stack.empty()) {
        const TreeNode* n = stack.back().first;
        const std::size_t level = stack.back().second;
        stack.pop_back();
        out += std::string(level * 2, ' ') + "[" + escaped(n->name) + "]";
        if (n->single_line) out += " => [" + escaped(n->content) + "]";
        out += "\n";
        for (std::size_t i = n->children.size(); i-- > 0;) stack.emplace_back(&n->children[i], level + 1);
    }
    return out.empty() ? "(no nodes)\n" : out;
}
