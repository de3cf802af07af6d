#pragma once
// Small helpers shared by the tree tests: building expected trees by hand and
// printing trees and byte strings readably in failure messages.

#include "tree/tree.h"

#include <cstdio>
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

// Bytes as C-like text: printable ASCII stays, everything else is \t, \r, \n or \xNN.
inline std::string escaped(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
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
