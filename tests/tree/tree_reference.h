#pragma once
// A plainly recursive reference for the tree's operations, written step by step
// from the rules (one call per level, byte by byte), for the tests and the fuzzer
// to compare the real, stack-free implementation with. Only for shallow trees.

#include "tree/tree.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

namespace tree_reference {

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

    TreeNode parse_node(const std::string& text, std::string name, std::string content, bool single, std::size_t start,
                        std::size_t* out_pos)
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

inline Tree ref_parse(const std::string& text)
{
    RefCursor cursor;
    return cursor.parse_node(text, "", "", false, 0, nullptr);
}

inline std::string ref_serialize(const TreeNode& n, const std::string& separator, std::uint32_t depth)
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

inline bool ref_match(char a, char b)
{
    return ((static_cast<unsigned char>(a) ^ static_cast<unsigned char>(b)) & 0xDF) == 0;
}

inline const TreeNode* ref_find(const TreeNode& n, const std::string& path)
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

inline std::string ref_common_prefix(const std::string& a, const std::string& b)
{
    if (a.empty()) return b;
    if (b.empty()) return a;
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && ref_match(a[i], b[i])) ++i;
    return a.substr(0, i);
}

// Completion byte by byte: names agree under the matching rule, wherever that ends.
inline std::string ref_complete_bytes(const TreeNode& n, const std::string& query)
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
            const std::string below = ref_complete_bytes(child, query.substr(child.name.size() + 1));
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

// An answer never ends inside a multi-byte UTF-8 character: a lead byte whose
// character the answer cuts short goes, with its continuation bytes, but the answer
// never becomes shorter than the query. Bytes that are not UTF-8 stay.
inline std::string ref_complete(const TreeNode& n, const std::string& query)
{
    std::string answer = ref_complete_bytes(n, query);
    for (std::size_t back = 1; back <= 4 && back <= answer.size(); ++back) {
        const auto c = static_cast<unsigned char>(answer[answer.size() - back]);
        if ((c & 0xC0) == 0x80) continue;
        const std::size_t length = c >= 0xF0 && c <= 0xF7 ? 4
            : c >= 0xE0 && c <= 0xEF                      ? 3
            : c >= 0xC2 && c <= 0xDF                      ? 2
                                                          : 1;
        if (back < length) answer.resize(std::max(answer.size() - back, std::min(query.size(), answer.size())));
        break;
    }
    return answer;
}

// The text with every terminator (LF or CR LF) replaced by `separator`, and one
// appended when the text is not empty and does not end in LF.
inline std::string normalised(const std::string& text, const std::string& separator)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            if (i > 0 && text[i - 1] == '\r') out.pop_back();
            out += separator;
        } else {
            out.push_back(text[i]);
        }
    }
    if (!text.empty() && text.back() != '\n') out += separator;
    return out;
}

// Equal length and every byte matching under the & 0xDF rule.
inline bool matches_under_rule(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!ref_match(a[i], b[i])) return false;
    return true;
}

}  // namespace tree_reference
