#include "audit/report.h"

#include "backups/backup_files.h"
#include "backups/history.h"
#include "crypto/wipe.h"
#include "tree/fields.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <utility>

namespace {

// One password line's value and its entry.
struct Value {
    const std::string* text;
    std::size_t entry;
};

// The path under the filter box's matching of names: bytes equal after & 0xDF.
std::string folded(const std::string& path)
{
    std::string out = path;
    for (char& c : out) c = static_cast<char>(static_cast<unsigned char>(c) & 0xDF);
    return out;
}

// "1,234,567".
std::string with_separators(std::uint64_t n)
{
    std::string digits = std::to_string(n);
    for (std::size_t k = digits.size(); k > 3; k -= 3) digits.insert(k - 3, ",");
    return digits;
}

}  // namespace

AuditLine::~AuditLine()
{
    secure_wipe(&text[0], text.capacity());
}

AuditEntry::~AuditEntry()
{
    secure_wipe(&path[0], path.capacity());
    secure_wipe(&user[0], user.capacity());
}

bool is_audit_ignore_line(const TreeNode& child)
{
    return child.single_line && names_equal_nocase(child.name, "audit") && names_equal_nocase(child.content, "ignore");
}

std::vector<AuditEntry> list_audit_entries(const TreeNode& root, const TreeNode& start)
{
    std::vector<AuditEntry> entries;
    std::vector<bool> inside_start;  // per entry: at or below `start`
    // Depth first without recursion; `path` grows and shrinks with the walk.
    struct Frame {
        const TreeNode* node;
        std::size_t next;
        std::size_t path_size;
        bool inside;  // at or below `start`
    };
    SecretString path;
    std::vector<Frame> stack{{&root, 0, 0, &root == &start}};
    std::size_t line_number = 0;  // one node a line, in the walk's order
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.node->children.size()) {
            path.truncate(frame.path_size);
            stack.pop_back();
            continue;
        }
        const TreeNode& child = frame.node->children[frame.next++];
        ++line_number;
        const bool inside = frame.inside || &child == &start;
        path.truncate(frame.path_size);
        if (frame.node != &root) path.append(" ", 1);
        path.append(child.name.data(), child.name.size());
        if (has_password_line(child) &&
            std::none_of(child.children.begin(), child.children.end(), is_audit_ignore_line)) {
            AuditEntry entry;
            entry.node = &child;
            entry.line = line_number;
            entry.path = path.str();
            if (const TreeNode* user = first_field(child, FieldKind::kUserName); user && user->single_line)
                entry.user = user->content;
            entries.push_back(std::move(entry));
            inside_start.push_back(inside);
        }
        if (!child.children.empty()) stack.push_back({&child, 0, path.size(), inside});
    }

    // Shared paths: the same path under the matching of names, or one that finds
    // another node first.
    std::vector<std::string> keys;
    keys.reserve(entries.size());
    for (const AuditEntry& entry : entries) keys.push_back(folded(entry.path));
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    for (std::size_t k = 1; k < order.size(); ++k)
        if (keys[order[k]] == keys[order[k - 1]])
            entries[order[k]].path_shared = entries[order[k - 1]].path_shared = true;
    for (std::string& key : keys) secure_wipe(&key[0], key.size());
    // Entries outside `start` count for the sharing only.
    std::size_t kept = 0;
    for (std::size_t e = 0; e < entries.size(); ++e)
        if (inside_start[e]) {
            if (kept != e) entries[kept] = entries[e];
            ++kept;
        }
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(kept), entries.end());
    for (AuditEntry& entry : entries)
        if (!entry.path_shared) entry.path_shared = root.find(entry.path) != entry.node;
    return entries;
}

BreachStatus build_audit_report(const TreeNode& root, const TreeNode& start, BreachCorpus* corpus, AuditReport& out,
                                std::string& error)
{
    out = AuditReport();
    out.entries = list_audit_entries(root, start);
    std::vector<Value> values;
    for (std::size_t e = 0; e < out.entries.size(); ++e)
        for (const TreeNode& line : out.entries[e].node->children)
            if (is_password_line(line.name) && line.single_line && !line.content.empty())
                values.push_back({&line.content, e});

    // Equal values side by side (no copies): each distinct one is estimated and looked
    // up once, and those of more than one entry form a group.
    std::stable_sort(values.begin(), values.end(), [](const Value& a, const Value& b) { return *a.text < *b.text; });
    std::vector<StrengthLevel> weakest(out.entries.size(), StrengthLevel::kStrong);
    std::vector<std::uint64_t> counts(out.entries.size(), 0);
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t first = 0; first < values.size();) {
        std::size_t end = first + 1;
        while (end < values.size() && *values[end].text == *values[first].text) ++end;
        const std::string& value = *values[first].text;
        const StrengthLevel level = estimate_strength(value).level;
        std::uint64_t count = 0;
        if (corpus && corpus->is_open())
            if (BreachStatus status = corpus->count(value, count, error); status != BreachStatus::kOk) {
                out = AuditReport();
                return status;
            }
        std::vector<std::size_t> group;
        for (std::size_t k = first; k < end; ++k) {
            const std::size_t e = values[k].entry;
            weakest[e] = std::min(weakest[e], level);
            counts[e] = std::max(counts[e], count);
            if (group.empty() || group.back() != e) group.push_back(e);
        }
        if (group.size() > 1) {
            std::sort(group.begin(), group.end());
            group.erase(std::unique(group.begin(), group.end()), group.end());
            if (group.size() > 1) groups.push_back(std::move(group));
        }
        first = end;
    }
    std::sort(groups.begin(), groups.end());
    out.reused = std::move(groups);
    for (std::size_t e = 0; e < out.entries.size(); ++e) {
        if (counts[e]) out.breached.push_back({e, counts[e]});
        if (weakest[e] <= StrengthLevel::kWeak) out.weak.push_back({e, weakest[e]});
    }
    return BreachStatus::kOk;
}

std::size_t add_old_passwords(const Tree& root, const std::vector<BackupFile>& backups, KeyCache& password,
                              std::int64_t cutoff, std::int64_t now, AuditReport& report)
{
    std::vector<BackupFile> dated;
    for (const BackupFile& backup : backups)
        if (backup.seconds <= now) dated.push_back(backup);
    std::vector<const TreeNode*> lines;
    std::vector<std::size_t> entry_of;
    for (std::size_t e = 0; e < report.entries.size(); ++e)
        for (const TreeNode& line : report.entries[e].node->children)
            if (is_password_line(line.name) && line.single_line && !line.content.empty()) {
                lines.push_back(&line);
                entry_of.push_back(e);
            }
    const HistoryReport history = read_history(dated, root, lines, {&password}, true);
    // The oldest old line of each entry.
    std::vector<const WhenWritten*> oldest(report.entries.size(), nullptr);
    for (std::size_t k = 0; k < history.lines.size() && k < entry_of.size(); ++k) {
        if (history.lines[k].values.empty()) continue;
        const WhenWritten& written = history.lines[k].values.back().written;
        if (written.kind == WhenWritten::kUnknown || written.seconds >= cutoff) continue;
        const WhenWritten*& entry = oldest[entry_of[k]];
        if (!entry || written_earlier(written, *entry)) entry = &written;
    }
    report.old.clear();
    for (std::size_t e = 0; e < oldest.size(); ++e) {
        if (!oldest[e]) continue;
        LocalDate date;
        char text[16] = "";
        if (local_date(oldest[e]->seconds, date))
            std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
        report.old.push_back({e, text, oldest[e]->kind == WhenWritten::kBefore});
    }
    return history.other_passwords + history.damaged;
}

namespace {

// Appends the label of audit_entry_label to `out`, with no temporary copies.
void append_label(const AuditEntry& entry, std::string& out)
{
    out += entry.path;
    if (!entry.path_shared) return;
    if (entry.user.empty()) {
        out += " (line " + std::to_string(entry.line) + ")";
        return;
    }
    out += " (";
    out += entry.user;
    out += ")";
}

}  // namespace

std::string audit_entry_label(const AuditEntry& entry)
{
    std::string label;
    label.reserve(entry.path.size() + entry.user.size() + 24);
    append_label(entry, label);
    return label;
}

std::vector<AuditLine> audit_lines(const AuditReport& report)
{
    std::vector<AuditLine> lines;
    // Each row built in place, reserved to its size, so that no copy of a name is
    // left behind unwiped.
    auto row = [&](std::size_t e, const std::string& before, const std::string& after) {
        const AuditEntry& entry = report.entries[e];
        AuditLine line;
        line.entry = e;
        line.text.reserve(2 + before.size() + entry.path.size() + entry.user.size() + 24 + after.size());
        line.text += "  ";
        line.text += before;
        append_label(entry, line.text);
        line.text += after;
        lines.push_back(std::move(line));
    };
    std::size_t reused_entries = 0;
    if (!report.reused.empty()) {
        lines.push_back({"Reused"});
        for (std::size_t g = 0; g < report.reused.size(); ++g)
            for (std::size_t e : report.reused[g]) {
                row(e, std::to_string(g + 1) + "  ", "");
                ++reused_entries;
            }
    }
    if (!report.breached.empty()) {
        lines.push_back({"Breached"});
        for (const auto& b : report.breached)
            row(b.entry, "", ": " + with_separators(b.count) + (b.count == 1 ? " time" : " times"));
    }
    if (!report.weak.empty()) {
        lines.push_back({"Weak"});
        for (const auto& w : report.weak) row(w.entry, "", std::string(": ") + strength_level_text(w.level));
    }
    if (!report.old.empty()) {
        lines.push_back({"Old"});
        for (const auto& o : report.old) row(o.entry, "", ": " + std::string(o.at_least ? "at least " : "") + o.date);
    }
    const std::size_t checked = report.entries.size();
    lines.push_back({std::to_string(checked) + (checked == 1 ? " entry" : " entries") +
                     " checked: " + std::to_string(reused_entries) + " reused in " +
                     std::to_string(report.reused.size()) + (report.reused.size() == 1 ? " group, " : " groups, ") +
                     std::to_string(report.breached.size()) + " breached, " + std::to_string(report.weak.size()) +
                     " weak, " + std::to_string(report.old.size()) + " old."});
    return lines;
}

std::string format_audit_report(const AuditReport& report)
{
    const std::vector<AuditLine> lines = audit_lines(report);
    std::size_t size = 0;
    for (const AuditLine& line : lines) size += line.text.size() + 1;
    std::string text;
    text.reserve(size);
    for (const AuditLine& line : lines) {
        text += line.text;
        text += '\n';
    }
    return text;
}
