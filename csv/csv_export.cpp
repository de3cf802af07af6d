// From the vault's entries to CSV: one row per entry that holds a password.

#include "csv/csv.h"

#include "tree/fields.h"

#include <utility>

namespace {

enum Field { kUser, kPassword, kUrl, kNotes, kOtp, kFieldCount };

// The field a child's name stands for, or kFieldCount. User name, password and
// address lines are the ones the whole program recognises.
int field_of(const TreeNode& child)
{
    switch (field_kind(child.name)) {
    case FieldKind::kUserName: return kUser;
    case FieldKind::kPassword: return kPassword;
    case FieldKind::kUrl: return kUrl;
    case FieldKind::kOther: break;
    }
    if (names_equal_nocase(child.name, "notes")) return kNotes;
    if (names_equal_nocase(child.name, "otp") || names_equal_nocase(child.name, "totp")) return kOtp;
    return kFieldCount;
}

// A child's value: its content, or its lines joined by CR LF.
SecretString value_of(const TreeNode& child)
{
    if (child.single_line) return SecretString(child.content.data(), child.content.size());
    SecretString lines(child.serialize("\r\n", 0));
    if (lines.size() >= 2) lines.truncate(lines.size() - 2);
    return lines;
}

void append_field(SecretString& out, const std::string& value)
{
    if (value.find_first_of(",\"\r\n") == std::string::npos) {
        out.append(value.data(), value.size());
        return;
    }
    out.append("\"", 1);
    std::size_t from = 0;
    for (std::size_t quote = value.find('"'); quote != std::string::npos; quote = value.find('"', from)) {
        out.append(value.data() + from, quote + 1 - from);
        out.append("\"", 1);
        from = quote + 1;
    }
    out.append(value.data() + from, value.size() - from);
    out.append("\"", 1);
}

void append_row(SecretString& out, const std::vector<const TreeNode*>& ancestors, const TreeNode& entry)
{
    std::string group;
    for (std::size_t i = 1; i < ancestors.size(); ++i) {
        if (i > 1) group += '/';
        group += ancestors[i]->name;
    }
    const TreeNode* found[kFieldCount] = {};
    for (const TreeNode& child : entry.children) {
        const int f = field_of(child);
        if (f != kFieldCount && !found[f]) found[f] = &child;
    }
    append_field(out, group);
    out.append(",", 1);
    append_field(out, entry.name);
    for (int f : {kUser, kPassword, kUrl, kNotes, kOtp}) {
        out.append(",", 1);
        if (found[f]) append_field(out, value_of(*found[f]).str());
    }
    out.append("\r\n", 2);
}

bool is_entry(const TreeNode& node)
{
    return has_password_line(node);
}

}  // namespace

void export_csv(const TreeNode& root, CsvExport& result)
{
    result.text.clear();
    result.rows = 0;
    result.left_out = 0;
    result.text.append(kCsvExportHeader, sizeof kCsvExportHeader - 1);
    result.text.append("\r\n", 2);

    // Depth first with an explicit stack: the node, the next child to visit, and
    // whether anything was exported in its subtree.
    struct Frame {
        const TreeNode* node;
        std::size_t next;
        bool exported;
        bool entry;
    };
    std::vector<Frame> stack{{&root, 0, false, false}};
    std::vector<const TreeNode*> ancestors{&root};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.node->children.size()) {
            const Frame done = frame;
            stack.pop_back();
            ancestors.pop_back();
            if (stack.empty()) break;
            if (done.exported) stack.back().exported = true;
            if (!done.exported && !done.node->children.empty()) ++result.left_out;
            continue;
        }
        const TreeNode& child = frame.node->children[frame.next++];
        // An entry's values are not entries of their own.
        if (frame.entry && field_of(child) != kFieldCount) continue;
        const bool entry = is_entry(child);
        if (entry) {
            append_row(result.text, ancestors, child);
            ++result.rows;
        }
        stack.push_back({&child, 0, entry, entry});
        ancestors.push_back(&child);
    }
}
