#include "backups/history.h"

#include "db/database.h"
#include "tree/fields.h"
#include "tree/merge.h"
#include "vault/vault_merge.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

// One version of the document. A backup's is read only as far as the lines followed
// need it: its top-level nodes, and the lines below one of them when a line's path
// passes through it or when its name repeats among them (the matching of same-named
// nodes may look into them). Its text and nodes are wiped when it goes.
struct Version {
    Tree owned;
    const Tree* tree = &owned;
    SecretString text;
    std::vector<std::size_t> children_at;  // empty when `tree` is complete
    std::vector<bool> expanded;
    bool top_names_repeat = true;  // two top-level nodes share a name (unknown: true)

    Version() = default;
    Version(const Version&) = delete;
    Version& operator=(const Version&) = delete;
    ~Version() { wipe_tree(owned); }

    void expand(std::size_t top)
    {
        if (top >= expanded.size() || expanded[top]) return;
        parse_children_at(text.str(), children_at[top], owned.children[top]);
        expanded[top] = true;
    }
};

using Document = std::shared_ptr<Version>;

Document read_version(const Database& db)
{
    Document version = std::make_shared<Version>();
    version->text = SecretString(db.plaintext());
    version->owned = parse_top_level(version->text.str(), version->children_at);
    version->expanded.assign(version->children_at.size(), false);
    std::unordered_map<std::string_view, std::size_t> first_of_name;
    const std::vector<TreeNode>& top = version->owned.children;
    version->top_names_repeat = false;
    for (std::size_t i = 0; i < top.size(); ++i) {
        const auto seen = first_of_name.emplace(top[i].name, i);
        if (seen.second) continue;
        version->top_names_repeat = true;
        version->expand(seen.first->second);
        version->expand(i);
    }
    return version;
}

// Where a node is: the index among its siblings at each level, from the top.
using IndexPath = std::vector<std::size_t>;

// The node at `path`, or null.
const TreeNode* node_at(const Tree& root, const IndexPath& path)
{
    const TreeNode* node = &root;
    for (std::size_t index : path) {
        if (index >= node->children.size()) return nullptr;
        node = &node->children[index];
    }
    return node;
}

// The index paths (and name paths) of the nodes of `root` named in `wanted`,
// found by one walk without recursion.
void locate(const Tree& root, const std::vector<const TreeNode*>& wanted, std::vector<IndexPath>& paths,
            std::vector<std::string>& names)
{
    paths.assign(wanted.size(), IndexPath());
    names.assign(wanted.size(), std::string());
    std::vector<bool> found(wanted.size(), false);
    std::unordered_map<const TreeNode*, std::vector<std::size_t>> slots;
    for (std::size_t i = 0; i < wanted.size(); ++i) slots[wanted[i]].push_back(i);
    IndexPath path;
    for_each_below(root, [&](const TreeNode& node, std::size_t depth, std::size_t index) {
        path.resize(depth);
        path.push_back(index);
        const auto slot = slots.find(&node);
        if (slot != slots.end()) {
            std::string name;
            const TreeNode* at = &root;
            for (std::size_t step : path) {
                at = &at->children[step];
                if (!name.empty()) name += ' ';
                name += at->name;
            }
            for (std::size_t i : slot->second) {
                paths[i] = path;
                names[i] = name;
                found[i] = true;
            }
        }
    });
    for (std::size_t i = 0; i < wanted.size(); ++i)
        if (!found[i]) paths[i].clear();
}

// One line on its way back through the backups.
struct Follow {
    bool valid = false;  // the line is a node of the current document
    Document document;  // the newest version where the line was last found
    IndexPath path;  // its place there
    bool in_run = false;  // `run` holds the value of the versions read last
    HeldValue run;
    bool run_in_backup = false;  // a backup holds the run's value
    std::int64_t run_oldest = 0;  // the time of the oldest such backup
    bool done = false;
    std::vector<HeldValue> newest_first;
};

bool has_value(const TreeNode* node)
{
    return node && node->single_line;
}

// The run's value ends: it was written as `written` says.
void close_run(Follow& follow, const WhenWritten& written, bool current_only)
{
    follow.run.written = written;
    follow.newest_first.push_back(std::move(follow.run));
    follow.run = HeldValue();
    follow.in_run = false;
    if (current_only) follow.done = true;
}

void start_run(Follow& follow, const TreeNode& node, bool current, std::int64_t seconds)
{
    follow.run = HeldValue();
    follow.run.value = SecretString(node.content.data(), node.content.size());
    follow.run.current = current;
    follow.run.replaced = current ? 0 : seconds;
    follow.in_run = true;
    follow.run_in_backup = false;
}

// Pairs the children of the nodes of one version with those of an older one, each
// list once per backup.
class Matcher {
public:
    explicit Matcher(Version& older) : older_(older) {}

    // The place in the older version of the node at `path` in `newer`; false when it
    // has no match there.
    bool find(Version& newer, const IndexPath& path, IndexPath& out)
    {
        out.clear();
        const TreeNode* from = newer.tree;
        const TreeNode* to = older_.tree;
        for (std::size_t index : path) {
            auto known = pairs_.find(from);
            if (known == pairs_.end()) {
                std::vector<std::size_t> pairs =
                    from == newer.tree ? pair_top_level(newer) : match_siblings(from->children, to->children);
                known = pairs_.emplace(from, std::move(pairs)).first;
            }
            const std::size_t match = known->second[index];
            if (match == kNoMatch) return false;
            out.push_back(match);
            if (out.size() == 1) older_.expand(match);
            from = &from->children[index];
            to = &to->children[match];
        }
        return true;
    }

private:
    // Top-level lists of the same names in the same order, none of them twice (most
    // documents between two saves), pair in order: the only pairing that keeps the
    // order and pairs every node. Otherwise the nodes of a name that repeats on either
    // side are read in full on both, since same-named entries pair by what they hold.
    std::vector<std::size_t> pair_top_level(Version& newer)
    {
        const std::vector<TreeNode>& a = newer.tree->children;
        const std::vector<TreeNode>& b = older_.tree->children;
        bool same = !older_.top_names_repeat && a.size() == b.size();
        for (std::size_t i = 0; same && i < a.size(); ++i) same = a[i].name == b[i].name;
        if (same) {
            std::vector<std::size_t> in_order(a.size());
            for (std::size_t i = 0; i < a.size(); ++i) in_order[i] = i;
            return in_order;
        }
        std::unordered_map<std::string_view, std::size_t> in_newer;
        std::unordered_map<std::string_view, std::size_t> in_older;
        for (const TreeNode& node : a) ++in_newer[node.name];
        for (const TreeNode& node : b) ++in_older[node.name];
        for (std::size_t i = 0; i < a.size(); ++i)
            if (in_older[a[i].name] > 1) newer.expand(i);
        for (std::size_t j = 0; j < b.size(); ++j)
            if (in_newer[b[j].name] > 1) older_.expand(j);
        return match_siblings(a, b);
    }

    Version& older_;
    std::unordered_map<const TreeNode*, std::vector<std::size_t>> pairs_;
};

// Loads and opens one backup; the status of the load, or of the last password tried.
int open_backup(const BackupFile& backup, const std::vector<KeyCache*>& passwords, Database& db, bool& loaded)
{
    loaded = false;
    const int status = db.load(backup.path);
    if (status != DB_OK) return status;
    loaded = true;
    int result = DB_WRONG_PASSWORD;
    for (KeyCache* password : passwords) {
        result = password->decrypt(db);
        if (result == DB_OK) break;
    }
    return result;
}

}  // namespace

std::string when_written_text(const WhenWritten& when)
{
    switch (when.kind) {
    case WhenWritten::kAt: return local_date_time(when.seconds);
    case WhenWritten::kBefore: return "before " + local_date_time(when.seconds);
    case WhenWritten::kUnknown: break;
    }
    return "unknown";
}

std::string held_value_dates(const HeldValue& held)
{
    return "written " + when_written_text(held.written) +
        (held.current ? std::string(", current") : ", replaced " + local_date_time(held.replaced));
}

std::string backups_not_read_text(std::size_t other_passwords, std::size_t damaged, const char* line_end)
{
    std::string text;
    if (other_passwords > 0)
        text += with_thousands(other_passwords) + (other_passwords == 1 ? " backup" : " backups") +
            " under other passwords not read" + line_end;
    if (damaged > 0)
        text += with_thousands(damaged) +
            (damaged == 1 ? " backup could not be read and was skipped"
                          : " backups could not be read and were skipped") +
            line_end;
    return text;
}

bool written_earlier(const WhenWritten& a, const WhenWritten& b)
{
    if ((a.kind == WhenWritten::kUnknown) != (b.kind == WhenWritten::kUnknown)) return a.kind == WhenWritten::kUnknown;
    if (a.seconds != b.seconds) return a.seconds < b.seconds;
    return a.kind == WhenWritten::kBefore && b.kind == WhenWritten::kAt;
}

HistoryReport read_history(const std::vector<BackupFile>& backups, const Tree& current,
                           const std::vector<const TreeNode*>& lines, const std::vector<KeyCache*>& passwords,
                           bool current_only)
{
    HistoryReport report;
    std::vector<IndexPath> paths;
    std::vector<std::string> names;
    locate(current, lines, paths, names);
    const Document current_document = std::make_shared<Version>();
    current_document->tree = &current;
    std::vector<Follow> follows(lines.size());
    std::size_t open = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Follow& follow = follows[i];
        follow.valid = !paths[i].empty();
        if (!follow.valid || !has_value(lines[i])) {
            follow.done = true;
            continue;
        }
        follow.document = current_document;
        follow.path = paths[i];
        start_run(follow, *lines[i], true, 0);
        ++open;
    }

    IndexPath found;
    for (auto backup = backups.rbegin(); backup != backups.rend() && open > 0; ++backup) {
        Database db;
        bool loaded = false;
        const int status = open_backup(*backup, passwords, db, loaded);
        if (status != DB_OK) {
            ++(loaded && status == DB_WRONG_PASSWORD ? report.other_passwords : report.damaged);
            continue;
        }
        ++report.read;
        const Document older = read_version(db);
        db.wipe_data();
        Matcher matcher(*older);
        const std::int64_t seconds = backup->seconds;
        for (std::size_t i = 0; i < follows.size(); ++i) {
            Follow& follow = follows[i];
            if (follow.done) continue;
            const TreeNode* node = nullptr;
            if (matcher.find(*follow.document, follow.path, found)) {
                node = node_at(*older->tree, found);
                follow.document = older;
                follow.path = found;
            }
            if (follow.in_run && (!has_value(node) || node->content != follow.run.value.str())) {
                close_run(follow, WhenWritten{WhenWritten::kAt, seconds}, current_only);
                if (follow.done) {
                    follow.document.reset();
                    --open;
                    continue;
                }
            }
            if (has_value(node) && !follow.in_run) start_run(follow, *node, false, seconds);
            if (follow.in_run) {
                follow.run_oldest = seconds;
                follow.run_in_backup = true;
            }
        }
    }

    for (std::size_t i = 0; i < lines.size(); ++i) {
        Follow& follow = follows[i];
        if (follow.in_run) {
            // The oldest backup read holds the value, or none was read.
            WhenWritten written;
            if (follow.run_in_backup) written = WhenWritten{WhenWritten::kBefore, follow.run_oldest};
            close_run(follow, written, false);
        }
        follow.document.reset();
        LineHistory history;
        history.line = follow.valid ? lines[i] : nullptr;
        history.path = names[i];
        history.values.reserve(follow.newest_first.size());
        for (auto value = follow.newest_first.rbegin(); value != follow.newest_first.rend(); ++value)
            history.values.push_back(std::move(*value));
        report.lines.push_back(std::move(history));
    }
    return report;
}

std::vector<const TreeNode*> lines_of(const TreeNode& node)
{
    std::vector<const TreeNode*> lines;
    if (node.children.empty()) {
        lines.push_back(&node);
        return lines;
    }
    for (const TreeNode& child : node.children) lines.push_back(&child);
    return lines;
}

std::vector<const TreeNode*> password_lines_under(const TreeNode& node)
{
    std::vector<const TreeNode*> lines;
    std::vector<const TreeNode*> stack{&node};
    while (!stack.empty()) {
        const TreeNode* at = stack.back();
        stack.pop_back();
        if (at->single_line && is_password_line(at->name)) lines.push_back(at);
        for (auto child = at->children.rbegin(); child != at->children.rend(); ++child) stack.push_back(&*child);
    }
    return lines;
}
