#pragma once
// The indented text tree.
//
// One node per line; leading tabs nest a line under the nearest line one level up
// (a level grows by at most one per line); the first ": " on a line splits it into
// name and single-line content. Names and contents are kept byte for byte.
//
// No operation needs stack in proportion to the nesting depth: parsing, writing,
// lookup, completion, copying and destruction all walk the tree with explicit stacks.
//
// Names and contents are the user's secrets. Every node wipes its name and content
// when it is destroyed (also the nodes that a growing vector of nodes leaves
// behind, and temporary documents), and what the editor replaces (a value, a node's
// children) and the serializer's growing buffer are wiped before release.

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

struct TreeNode {
    std::string name;
    std::string content;
    bool single_line = false;
    std::vector<TreeNode> children;

    TreeNode() = default;
    TreeNode(std::string node_name, std::string node_content, bool is_single_line);
    // Copying, assigning and destroying never recurse. A node may be assigned one of
    // its own descendants, by copy or by move.
    TreeNode(const TreeNode& other);
    TreeNode(TreeNode&& other) noexcept = default;
    TreeNode& operator=(const TreeNode& other);
    TreeNode& operator=(TreeNode&& other) noexcept;
    ~TreeNode();

    // content := text; single_line := !text.empty(). Name and children stay. The
    // former content is wiped before its memory is released.
    void set_content(const std::string& text);
    // Replaces the children with those of parse_tree(text); the node stays in place.
    // The former children are wiped before they are released.
    void set_children_from_text(const std::string& text);
    // Overwrites the name and content of this node and of every descendant with
    // zeros (lengths and structure stay). Needs no stack in proportion to the depth.
    void wipe() noexcept;
    // The node's descendants as text, each line indented by `depth` tabs plus its
    // level and ended by `separator`; the node's own line is not written. The
    // buffers it outgrows on the way are wiped; the caller wipes the result.
    std::string serialize(const std::string& separator, std::uint32_t depth) const;
    // The node that `path` names (names separated by single spaces, bytes matched
    // when equal after & 0xDF), with backtracking; this node for an empty path;
    // null when there is none.
    TreeNode* find(const std::string& path);
    const TreeNode* find(const std::string& path) const;
    // The completed filter text for `query`, or empty when nothing can be offered.
    // Never shorter than a non-empty query; never ends inside a multi-byte UTF-8
    // character that the completion added.
    std::string complete(const std::string& query) const;
};

// Same names, contents, flags and children, all the way down.
bool operator==(const TreeNode& a, const TreeNode& b);
bool operator!=(const TreeNode& a, const TreeNode& b);

// The document root: empty name and content, not single-line.
using Tree = TreeNode;

// The parser's cursor: `depth` leading tabs mark the lines of the level it reads,
// `pos` is the next byte to read, `end` the text's length.
struct TreeParser {
    std::uint32_t depth = 0;
    std::size_t pos = 0;
    std::size_t end = 0;

    // A node made of name, content and flag whose children are the lines of level
    // `depth` from `start` on (each with its subtree), up to the first line with
    // fewer than `depth` leading tabs or the end of the text. Sets `end` to the
    // text's length and leaves `pos` (and *out_pos when given) at that line. Deeper
    // levels are read with an explicit stack, not by recursion.
    TreeNode parse_node(const std::string& text, std::string name, std::string content, bool single_line,
                        std::size_t start, std::size_t* out_pos);
    // The steps parse_node reads each line with: its indentation one tab at a time,
    // then the name (scan_key) and, after ": ", the content (scan_line_end).

    // True after consuming exactly `count` tabs at `pos`; otherwise `pos` stays.
    bool skip_indent(const std::string& text, std::uint32_t count);
    // True with `pos` on the colon and out_len 2 when ": " comes before the line
    // ends; false with `pos` on the terminator and out_len its length (1 for LF,
    // 2 for CR LF), or at `end` with out_len 0. A CR counts only when it was read
    // by this call, directly before the LF.
    bool scan_key(const std::string& text, std::size_t& out_len);
    // The same scan without looking for ": ".
    bool scan_line_end(const std::string& text, std::size_t& out_len);
};

// Parses any byte sequence into a root whose children are the top-level lines.
Tree parse_tree(const std::string& text);

// A document read one top-level node at a time, for readers that need a few entries
// of many documents: the top-level nodes without their children, and for each the
// offset in `text` where the lines below it begin (children_at, one per node).
// parse_children_at then gives a node the children that parse_tree gives it.
Tree parse_top_level(const std::string& text, std::vector<std::size_t>& children_at);
void parse_children_at(const std::string& text, std::size_t at, TreeNode& node);

// a if b is empty, b if a is empty, else the longest prefix of a that matches b
// under the & 0xDF rule.
std::string common_prefix_nocase(const std::string& a, const std::string& b);

// What the editor shows for `node`: a single-line node's content alone (no line end),
// any other node its descendants with its children at the left margin, every line
// ended by `separator` (the editor passes "\r\n").
std::string shown_text(const TreeNode& node, const std::string& separator);

// Overwrites every name and content in the tree (wipe()), then empties it: the
// document must not stay readable in memory once its vault is closed.
void wipe_tree(Tree& root) noexcept;

// A document that is wiped when it goes: a temporary copy or a file's text.
struct WipedTree {
    Tree tree;
    WipedTree() = default;
    explicit WipedTree(const Tree& from) : tree(from) {}
    WipedTree(const WipedTree&) = delete;
    WipedTree& operator=(const WipedTree&) = delete;
    ~WipedTree() { wipe_tree(tree); }
};

// Calls `visit(node, depth, index)` for every node below `root` in document order:
// `depth` 0 for the root's children, `index` the node's place among its siblings.
// A visit that returns bool stops the walk with false; the walk then returns false.
// One stack frame a level, on the heap, however deep the tree.
template <typename Visit>
bool for_each_below(const TreeNode& root, Visit&& visit)
{
    struct Frame {
        const TreeNode* node;
        std::size_t next;
    };
    std::vector<Frame> stack{{&root, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.node->children.size()) {
            stack.pop_back();
            continue;
        }
        const std::size_t index = frame.next++;
        const TreeNode& child = frame.node->children[index];
        const std::size_t depth = stack.size() - 1;
        if constexpr (std::is_void_v<std::invoke_result_t<Visit&, const TreeNode&, std::size_t, std::size_t>>)
            visit(child, depth, index);
        else if (!visit(child, depth, index))
            return false;
        if (!child.children.empty()) stack.push_back({&child, 0});
    }
    return true;
}
