#include "tree/tree.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "crypto/wipe.h"

// Every walk over the tree below keeps its own stack in a std::vector, so a vault
// nested thousands of levels deep costs heap, never call stack.

namespace {

// Bytes match when they agree once bit 5 is cleared in both.
inline bool bytes_match(unsigned char a, unsigned char b)
{
    return ((a ^ b) & 0xDFu) == 0;
}

// The number of leading positions, at most n, at which a and b match.
std::size_t matching_prefix(const char* a, const char* b, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (((x ^ y) & 0xDFDFDFDFDFDFDFDFull) != 0) break;
    }
    while (i < n && bytes_match(static_cast<unsigned char>(a[i]), static_cast<unsigned char>(b[i]))) ++i;
    return i;
}

std::size_t checked_add(std::size_t a, std::size_t b)
{
    if (b > static_cast<std::size_t>(-1) - a) throw std::length_error("tree text too long");
    return a + b;
}

// One line of the text, split where the parser splits it.
struct Line {
    std::size_t key_end;  // end of the name (the colon of ": ", or the terminator)
    std::size_t value_end;  // end of the content (the terminator); == key_end when plain
    std::size_t next;  // first byte after the terminator
    bool single_line;
};

// Splits the line that starts at `from` (after its indentation). `stop` is the text
// length. A CR counts as part of the terminator only when it lies inside the scanned
// part of the line, directly before the LF.
Line split_line(const char* base, std::size_t from, std::size_t stop)
{
    Line line;
    const void* lf = std::memchr(base + from, '\n', stop - from);
    const std::size_t lf_at = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - base) : stop;

    // The first ": " whose space lies before the line feed.
    std::size_t colon = stop;
    for (std::size_t i = from; i + 1 < lf_at;) {
        const void* c = std::memchr(base + i, ':', lf_at - 1 - i);
        if (!c) break;
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(c) - base);
        if (base[at + 1] == ' ') {
            colon = at;
            break;
        }
        i = at + 1;
    }

    line.single_line = colon != stop;
    const std::size_t value_from = line.single_line ? colon + 2 : from;
    std::size_t term = lf_at;
    if (lf && lf_at > value_from && base[lf_at - 1] == '\r') term = lf_at - 1;
    line.key_end = line.single_line ? colon : term;
    line.value_end = term;
    line.next = lf ? lf_at + 1 : stop;
    return line;
}

}  // namespace

// ---------------------------------------------------------------------------
// TreeNode: construction, copying, destruction

TreeNode::TreeNode(std::string node_name, std::string node_content, bool is_single_line)
    : name(std::move(node_name)), content(std::move(node_content)), single_line(is_single_line)
{
}

TreeNode::TreeNode(const TreeNode& other) : name(other.name), content(other.content), single_line(other.single_line)
{
    if (other.children.empty()) return;
    // Each pending pair is a source node whose children still have to be copied into
    // its (already reserved, so address-stable) destination.
    std::vector<std::pair<const TreeNode*, TreeNode*>> pending;
    pending.emplace_back(&other, this);
    while (!pending.empty()) {
        const TreeNode* source = pending.back().first;
        TreeNode* target = pending.back().second;
        pending.pop_back();
        target->children.reserve(source->children.size());
        for (const TreeNode& child : source->children) {
            target->children.emplace_back(child.name, child.content, child.single_line);
            if (!child.children.empty()) pending.emplace_back(&child, &target->children.back());
        }
    }
}

TreeNode& TreeNode::operator=(const TreeNode& other)
{
    if (this != &other) {
        TreeNode copy(other);
        *this = std::move(copy);
    }
    return *this;
}

TreeNode& TreeNode::operator=(TreeNode&& other) noexcept
{
    if (this != &other) {
        // The old value is parked in a local first: `other` may live inside it (a
        // node assigned one of its own descendants), and the local's destructor
        // dismantles it without recursion.
        TreeNode old(std::move(*this));
        name = std::move(other.name);
        content = std::move(other.content);
        single_line = other.single_line;
        children = std::move(other.children);
    }
    return *this;
}

namespace {

// The whole buffer, not just the characters in use: a string moved from or shortened
// may still hold earlier characters there (the short-string buffer inside the object).
void wipe_buffer(std::string& text) noexcept
{
    if (text.capacity() > 0) secure_wipe(&text[0], text.capacity());
}

}  // namespace

TreeNode::~TreeNode()
{
    wipe_buffer(name);
    wipe_buffer(content);
    // Walks the subtree depth first without recursion and without allocating. The
    // vector being emptied is `level`; the chain of vectors above it is threaded
    // through the children field of each one's last element (the node being
    // descended into), which is the only member it no longer needs. Every node is
    // destroyed only once it has no children, so no destructor below recurses.
    if (children.empty()) return;
    std::vector<TreeNode> level;
    level.swap(children);
    std::vector<TreeNode> above;
    for (;;) {
        if (!level.empty()) {
            TreeNode& last = level.back();
            if (last.children.empty()) {
                level.pop_back();
                continue;
            }
            std::vector<TreeNode> below;
            below.swap(last.children);
            last.children.swap(above);  // remember the chain above in `last`
            above.swap(level);  // `last` now sits at the back of `above`
            level.swap(below);
        } else if (!above.empty()) {
            level.swap(above);
            above.swap(level.back().children);  // take the chain back out
            level.pop_back();
        } else {
            break;
        }
    }
}

namespace {

void wipe_bytes(std::string& text) noexcept
{
    if (!text.empty()) secure_wipe(&text[0], text.size());
}

}  // namespace

void TreeNode::set_content(const std::string& text)
{
    std::string fresh(text);  // may throw; nothing has changed then
    wipe_bytes(content);
    content.swap(fresh);
    single_line = !content.empty();
    // `fresh` holds the former buffer, already wiped.
}

void TreeNode::set_children_from_text(const std::string& text)
{
    Tree parsed = parse_tree(text);
    children.swap(parsed.children);
    // `parsed` takes the former children with it, wiped first.
    parsed.wipe();
}

void TreeNode::wipe() noexcept
{
    wipe_bytes(name);
    wipe_bytes(content);
    try {
        std::vector<TreeNode*> pending;
        for (TreeNode& child : children) pending.push_back(&child);
        while (!pending.empty()) {
            TreeNode* node = pending.back();
            pending.pop_back();
            wipe_bytes(node->name);
            wipe_bytes(node->content);
            for (TreeNode& child : node->children) pending.push_back(&child);
        }
    } catch (...) {
        // Out of memory for the walk: what was reached is wiped.
    }
}

bool operator==(const TreeNode& a, const TreeNode& b)
{
    std::vector<std::pair<const TreeNode*, const TreeNode*>> pending;
    pending.emplace_back(&a, &b);
    while (!pending.empty()) {
        const TreeNode* x = pending.back().first;
        const TreeNode* y = pending.back().second;
        pending.pop_back();
        if (x->single_line != y->single_line || x->name != y->name || x->content != y->content ||
            x->children.size() != y->children.size())
            return false;
        for (std::size_t i = 0; i < x->children.size(); ++i) pending.emplace_back(&x->children[i], &y->children[i]);
    }
    return true;
}

bool operator!=(const TreeNode& a, const TreeNode& b)
{
    return !(a == b);
}

// ---------------------------------------------------------------------------
// Parsing

bool TreeParser::skip_indent(const std::string& text, std::uint32_t count)
{
    const std::size_t stop = std::min(end, text.size());
    std::size_t at = pos;
    while (count != 0 && at < stop) {
        if (text[at++] != '\t') break;
        --count;
    }
    if (count != 0) return false;
    pos = at;
    return true;
}

bool TreeParser::scan_key(const std::string& text, std::size_t& out_len)
{
    out_len = 0;
    const std::size_t stop = std::min(end, text.size());
    if (pos >= stop) return false;
    const Line line = split_line(text.data(), pos, stop);
    if (line.single_line) {
        pos = line.key_end;
        out_len = 2;
        return true;
    }
    pos = line.value_end;
    out_len = line.next - line.value_end;
    return false;
}

bool TreeParser::scan_line_end(const std::string& text, std::size_t& out_len)
{
    out_len = 0;
    const std::size_t stop = std::min(end, text.size());
    if (pos >= stop) return false;
    const char* base = text.data();
    const void* lf = std::memchr(base + pos, '\n', stop - pos);
    if (!lf) {
        pos = stop;
        return false;
    }
    const std::size_t lf_at = static_cast<std::size_t>(static_cast<const char*>(lf) - base);
    out_len = 1;
    if (lf_at > pos && base[lf_at - 1] == '\r') {
        pos = lf_at - 1;
        out_len = 2;
    } else {
        pos = lf_at;
    }
    return false;
}

TreeNode TreeParser::parse_node(const std::string& text, std::string node_name, std::string node_content,
                                bool is_single_line, std::size_t start, std::size_t* out_pos)
{
    pos = start;
    end = text.size();
    TreeNode result(std::move(node_name), std::move(node_content), is_single_line);

    // Level i (counted from this cursor's depth) is open while lines may still be
    // added under its most recent node. staged[i] holds the children read so far
    // for the open node of level i - 1 (the result for i = 0); the open node of
    // level i is staged[i].back(). A line with t leading tabs lands at level
    // min(t, deepest open level), which is what one cursor per level, each handing
    // back to the one above, arrives at. Closing a level moves its staged children
    // into a vector of exactly their number; the staging vectors are reused.
    std::vector<std::vector<TreeNode>> staged(1);
    std::size_t open = 1;  // levels open: 0 .. open - 1
    auto close_to = [&](std::size_t keep) {
        while (open > keep) {
            --open;
            std::vector<TreeNode>& kids = staged[open];
            TreeNode& owner = open == 0 ? result : staged[open - 1].back();
            if (!kids.empty()) {
                owner.children.assign(std::make_move_iterator(kids.begin()), std::make_move_iterator(kids.end()));
                kids.clear();
            }
        }
    };

    const char* base = text.data();
    while (pos < end) {
        const std::size_t line_begin = pos;
        const std::size_t deepest = depth + (open - 1);
        std::size_t tabs = 0;
        while (tabs < deepest && skip_indent(text, 1)) ++tabs;
        if (tabs < depth) {  // the line belongs to an outer level
            pos = line_begin;
            break;
        }
        const std::size_t level = tabs - depth;
        close_to(level + 1);
        const std::size_t name_start = pos;
        std::size_t terminator = 0;
        std::vector<TreeNode>& siblings = staged[level];
        if (scan_key(text, terminator)) {
            const std::size_t name_end = pos;
            pos += terminator;  // past ": "
            const std::size_t content_start = pos;
            scan_line_end(text, terminator);
            siblings.emplace_back(std::string(base + name_start, name_end - name_start),
                                  std::string(base + content_start, pos - content_start), true);
        } else {
            siblings.emplace_back(std::string(base + name_start, pos - name_start), std::string(), false);
        }
        // The new node opens the level below it.
        if (staged.size() == level + 1) staged.emplace_back();
        open = level + 2;
        pos += terminator;
    }
    close_to(0);
    if (out_pos) *out_pos = pos;
    return result;
}

Tree parse_tree(const std::string& text)
{
    TreeParser parser;
    parser.depth = 0;
    return parser.parse_node(text, std::string(), std::string(), false, 0, nullptr);
}

// Each top-level line is read as parse_node reads it; the lines that begin with a
// tab belong below the node before them, as they do in parse_node once a node is open.
Tree parse_top_level(const std::string& text, std::vector<std::size_t>& children_at)
{
    children_at.clear();
    Tree root;
    TreeParser parser;
    parser.pos = 0;
    parser.end = text.size();
    const char* base = text.data();
    while (parser.pos < parser.end) {
        const std::size_t name_start = parser.pos;
        std::size_t terminator = 0;
        if (parser.scan_key(text, terminator)) {
            const std::size_t name_end = parser.pos;
            parser.pos += terminator;
            const std::size_t content_start = parser.pos;
            parser.scan_line_end(text, terminator);
            root.children.emplace_back(std::string(base + name_start, name_end - name_start),
                                       std::string(base + content_start, parser.pos - content_start), true);
        } else {
            root.children.emplace_back(std::string(base + name_start, parser.pos - name_start), std::string(), false);
        }
        parser.pos += terminator;
        children_at.push_back(parser.pos);
        while (parser.pos < parser.end && base[parser.pos] == '\t') {
            parser.scan_line_end(text, terminator);
            parser.pos += terminator;
        }
    }
    return root;
}

void parse_children_at(const std::string& text, std::size_t at, TreeNode& node)
{
    TreeParser parser;
    parser.depth = 1;
    TreeNode parsed = parser.parse_node(text, std::string(), std::string(), false, at, nullptr);
    node.children = std::move(parsed.children);
}

// ---------------------------------------------------------------------------
// Writing

std::string TreeNode::serialize(const std::string& separator, std::uint32_t depth) const
{
    struct Frame {
        const TreeNode* node;
        std::size_t next;
    };
    std::vector<Frame> stack;
    stack.reserve(16);
    stack.push_back({this, 0});

    // One depth-first pass; the buffer grows geometrically and is cut to length at
    // the end, which costs less than a separate pass to measure the text first.
    std::string out;
    std::size_t used = 0;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.node->children.size()) {
            stack.pop_back();
            continue;
        }
        const TreeNode& child = frame.node->children[frame.next++];
        const std::size_t tabs = std::size_t{depth} + (stack.size() - 1);
        std::size_t line = checked_add(tabs, child.name.size());
        if (child.single_line) line = checked_add(line, checked_add(2, child.content.size()));
        line = checked_add(line, separator.size());
        const std::size_t need = checked_add(used, line);
        if (need > out.size()) {
            // Grown by hand so that the former buffer is wiped before it is released.
            std::string bigger(std::max(need, out.size() < out.max_size() / 2 ? out.size() * 2 + 256 : need), '\0');
            if (used > 0) std::memcpy(&bigger[0], out.data(), used);
            wipe_bytes(out);
            out.swap(bigger);
        }

        char* at = &out[used];
        std::memset(at, '\t', tabs);
        at += tabs;
        std::memcpy(at, child.name.data(), child.name.size());
        at += child.name.size();
        if (child.single_line) {
            at[0] = ':';
            at[1] = ' ';
            at += 2;
            std::memcpy(at, child.content.data(), child.content.size());
            at += child.content.size();
        }
        std::memcpy(at, separator.data(), separator.size());
        used = need;

        if (!child.children.empty()) stack.push_back({&child, 0});
    }
    out.resize(used);
    return out;
}

// ---------------------------------------------------------------------------
// Lookup and completion

TreeNode* TreeNode::find(const std::string& path)
{
    if (path.empty()) return this;
    // A frame is a node whose children are being tried against the path from
    // `offset` on; popping a frame is the backtracking step.
    struct Frame {
        TreeNode* node;
        std::size_t next;
        std::size_t offset;
    };
    std::vector<Frame> stack;
    stack.push_back({this, 0, 0});
    const char* p = path.data();
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.node->children.size()) {
            stack.pop_back();
            continue;
        }
        TreeNode& child = frame.node->children[frame.next++];
        const std::size_t offset = frame.offset;
        const std::size_t rest = path.size() - offset;
        const std::size_t name_len = child.name.size();
        const std::size_t n = std::min(rest, name_len);
        if (matching_prefix(p + offset, child.name.data(), n) != n) continue;
        if (rest == name_len) return &child;
        if (rest > name_len && p[offset + name_len] == ' ') {
            const std::size_t below = offset + name_len + 1;
            if (below == path.size()) return &child;  // an empty rest names the child itself
            stack.push_back({&child, 0, below});
        }
    }
    return nullptr;
}

const TreeNode* TreeNode::find(const std::string& path) const
{
    return const_cast<TreeNode*>(this)->find(path);
}

std::string common_prefix_nocase(const std::string& a, const std::string& b)
{
    if (a.empty()) return b;
    if (b.empty()) return a;
    const std::size_t n = std::min(a.size(), b.size());
    return a.substr(0, matching_prefix(a.data(), b.data(), n));
}

namespace {

// Drops the bytes after `floor` of a multi-byte UTF-8 character that the end of
// `text` cuts in two; bytes that are not UTF-8 are left alone.
void drop_split_character(std::string& text, std::size_t floor)
{
    std::size_t start = text.size();
    std::size_t continuation = 0;
    while (start > 0 && continuation < 3 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
        --start;
        ++continuation;
    }
    if (start == 0) return;
    --start;
    const unsigned char lead = static_cast<unsigned char>(text[start]);
    const std::size_t need = lead >= 0xF0 && lead <= 0xF7 ? 4
        : lead >= 0xE0 && lead <= 0xEF                    ? 3
        : lead >= 0xC2 && lead <= 0xDF                    ? 2
                                                          : 1;
    if (text.size() - start < need) text.resize(std::max(start, std::min(floor, text.size())));
}

}  // namespace

std::string TreeNode::complete(const std::string& query) const
{
    if (query.empty()) return std::string();

    // Answers are kept whole, from the start of the query: every answer found under
    // one node begins with the same stored names that lead to that node (`prefix`),
    // so a child's answer is already its candidate in the parent and nothing is
    // copied on the way up. Two answers under one node both match the query up to
    // its end, so only the bytes beyond it can differ.
    struct Frame {
        const TreeNode* node;
        std::size_t next;
        std::size_t offset;  // where the rest of the query starts; == prefix length
        std::string answer;  // empty: nothing accumulated yet
    };
    const std::size_t q_len = query.size();
    const char* q = query.data();

    auto merge = [&](std::string& into, std::string& candidate) {
        if (into.empty()) {
            into.swap(candidate);
            return;
        }
        const std::size_t shorter = std::min(into.size(), candidate.size());
        const std::size_t from = std::min(q_len, shorter);
        into.resize(from + matching_prefix(into.data() + from, candidate.data() + from, shorter - from));
    };

    std::vector<Frame> stack;
    std::string prefix;
    stack.push_back({this, 0, 0, std::string()});
    std::string finished;  // result of the frame just popped

    for (;;) {
        Frame& frame = stack.back();
        bool done = false;
        if (frame.next == frame.node->children.size()) {
            finished = std::move(frame.answer);
            done = true;
        } else {
            const TreeNode& child = frame.node->children[frame.next++];
            const std::size_t offset = frame.offset;
            const std::size_t rest = q_len - offset;
            const std::size_t name_len = child.name.size();
            const std::size_t n = std::min(rest, name_len);
            if (matching_prefix(q + offset, child.name.data(), n) != n) continue;
            if (rest == name_len) {
                // An exact name answers at once, dropping what was accumulated here.
                finished.assign(prefix);
                finished.append(child.name);
                done = true;
            } else if (rest > name_len) {
                if (q[offset + name_len] != ' ') continue;
                const std::size_t below = offset + name_len + 1;
                if (below == q_len) continue;  // an empty rest offers nothing
                prefix.append(child.name);
                prefix.push_back(' ');
                stack.push_back({&child, 0, below, std::string()});
                continue;
            } else {
                // The rest of the query is a proper prefix of this name.
                if (frame.answer.empty()) {
                    frame.answer.reserve(prefix.size() + name_len + 1);
                    frame.answer.assign(prefix);
                    frame.answer.append(child.name);
                    if (!child.children.empty()) frame.answer.push_back(' ');
                } else {
                    const std::size_t m = std::min(frame.answer.size() - q_len, name_len - rest);
                    frame.answer.resize(q_len +
                                        matching_prefix(frame.answer.data() + q_len, child.name.data() + rest, m));
                }
                continue;
            }
        }
        if (done) {
            stack.pop_back();
            if (stack.empty()) {
                // Names agree byte by byte, which may end inside a character.
                drop_split_character(finished, q_len);
                return finished;
            }
            prefix.resize(stack.back().offset);
            if (!finished.empty()) merge(stack.back().answer, finished);
        }
    }
}

std::string shown_text(const TreeNode& node, const std::string& separator)
{
    return node.single_line ? node.content : node.serialize(separator, 0);
}

void wipe_tree(Tree& root) noexcept
{
    root.wipe();
    try {
        root = Tree();
    } catch (...) {
    }
}
