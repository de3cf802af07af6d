#include "tree/merge.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <utility>

#include "crypto/wipe.h"
#include "tree/fields.h"

// Each level is merged in two steps: the sibling lists are matched and an ordered
// list of entries is decided (where each merged child comes from), then the entries
// become the output node's children and the children that need a merge of their own
// go on an explicit stack.

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool same_value(const TreeNode& a, const TreeNode& b)
{
    return a.single_line == b.single_line && a.content == b.content;
}

// A list's nodes by name (all of them, or the subset given): the k-th node of a
// given name, and each node's k.
class NameIndex {
public:
    explicit NameIndex(const std::vector<TreeNode>& list) : list_(list), sorted_(list.size())
    {
        std::iota(sorted_.begin(), sorted_.end(), std::size_t{0});
        sort();
    }
    NameIndex(const std::vector<TreeNode>& list, std::vector<std::size_t> subset)
        : list_(list), sorted_(std::move(subset))
    {
        sort();
    }

    // kNone for a node outside the subset.
    std::size_t occurrence(std::size_t index) const { return occurrence_[index]; }

    // The positions in sorted order of the nodes named `name`: [first, last).
    std::pair<std::size_t, std::size_t> range(const std::string& name) const
    {
        auto less = [&](std::size_t a, const std::string& n) { return list_[a].name < n; };
        auto greater = [&](const std::string& n, std::size_t a) { return n < list_[a].name; };
        const auto first = std::lower_bound(sorted_.begin(), sorted_.end(), name, less);
        const auto last = std::upper_bound(first, sorted_.end(), name, greater);
        return {static_cast<std::size_t>(first - sorted_.begin()), static_cast<std::size_t>(last - sorted_.begin())};
    }

    std::size_t at(std::size_t sorted_position) const { return sorted_[sorted_position]; }

    // The index of the k-th node named `name`, or kNone.
    std::size_t find(const std::string& name, std::size_t k) const
    {
        const auto r = range(name);
        return r.second - r.first > k ? sorted_[r.first + k] : kNone;
    }

private:
    void sort()
    {
        std::stable_sort(sorted_.begin(), sorted_.end(),
                         [&](std::size_t a, std::size_t b) { return list_[a].name < list_[b].name; });
        occurrence_.assign(list_.size(), kNone);
        for (std::size_t i = 0; i < sorted_.size(); ++i) {
            const bool same = i > 0 && list_[sorted_[i]].name == list_[sorted_[i - 1]].name;
            occurrence_[sorted_[i]] = same ? occurrence_[sorted_[i - 1]] + 1 : 0;
        }
    }

    const std::vector<TreeNode>& list_;
    std::vector<std::size_t> sorted_;
    std::vector<std::size_t> occurrence_;
};

// Matches the nodes of two lists by key (kNone matches nothing), keeping the order
// on both sides and matching as many as can be (a longest common subsequence of the
// keys, by Hunt and Szymanski: a binary search per pair of equal keys). When keys
// repeat so much that the pairs would cost too much, the k-th node of a key matches
// the k-th of that key. Returns for each node of `a` its match in `b`, or kNone.
std::vector<std::size_t> match_in_order(const std::vector<std::size_t>& a_keys, const std::vector<std::size_t>& b_keys)
{
    std::vector<std::size_t> a_to_b(a_keys.size(), kNone);
    std::vector<std::size_t> b_sorted;  // b's positions by key, then position
    for (std::size_t j = 0; j < b_keys.size(); ++j)
        if (b_keys[j] != kNone) b_sorted.push_back(j);
    std::sort(b_sorted.begin(), b_sorted.end(),
              [&](std::size_t x, std::size_t y) { return b_keys[x] != b_keys[y] ? b_keys[x] < b_keys[y] : x < y; });
    auto range = [&](std::size_t key) {
        const auto first = std::lower_bound(b_sorted.begin(), b_sorted.end(), key,
                                            [&](std::size_t j, std::size_t k) { return b_keys[j] < k; });
        const auto last =
            std::upper_bound(first, b_sorted.end(), key, [&](std::size_t k, std::size_t j) { return k < b_keys[j]; });
        return std::make_pair(static_cast<std::size_t>(first - b_sorted.begin()),
                              static_cast<std::size_t>(last - b_sorted.begin()));
    };
    std::size_t pairs = 0;
    for (std::size_t key : a_keys) {
        if (key == kNone) continue;
        const auto r = range(key);
        pairs += r.second - r.first;
    }
    if (pairs > 16 * (a_keys.size() + b_keys.size()) + 65536) {
        std::vector<std::size_t> a_sorted;
        for (std::size_t i = 0; i < a_keys.size(); ++i)
            if (a_keys[i] != kNone) a_sorted.push_back(i);
        std::stable_sort(a_sorted.begin(), a_sorted.end(),
                         [&](std::size_t x, std::size_t y) { return a_keys[x] < a_keys[y]; });
        for (std::size_t p = 0, k = 0; p < a_sorted.size(); ++p) {
            const std::size_t key = a_keys[a_sorted[p]];
            k = p > 0 && a_keys[a_sorted[p - 1]] == key ? k + 1 : 0;
            const auto r = range(key);
            if (r.first + k < r.second) a_to_b[a_sorted[p]] = b_sorted[r.first + k];
        }
        return a_to_b;
    }
    struct Step {
        std::size_t i;
        std::size_t j;
        std::size_t previous;
    };
    std::vector<Step> steps;
    std::vector<std::size_t> tail_j;  // tail_j[k]: the smallest j that ends a common subsequence of length k + 1
    std::vector<std::size_t> tail_step;
    for (std::size_t i = 0; i < a_keys.size(); ++i) {
        if (a_keys[i] == kNone) continue;
        const auto r = range(a_keys[i]);
        for (std::size_t p = r.second; p-- > r.first;) {
            const std::size_t j = b_sorted[p];
            const std::size_t k =
                static_cast<std::size_t>(std::lower_bound(tail_j.begin(), tail_j.end(), j) - tail_j.begin());
            if (k < tail_j.size() && tail_j[k] == j) continue;
            steps.push_back({i, j, k > 0 ? tail_step[k - 1] : kNone});
            if (k == tail_j.size()) {
                tail_j.push_back(j);
                tail_step.push_back(steps.size() - 1);
            } else {
                tail_j[k] = j;
                tail_step[k] = steps.size() - 1;
            }
        }
    }
    for (std::size_t s = tail_step.empty() ? kNone : tail_step.back(); s != kNone; s = steps[s].previous)
        a_to_b[steps[s].i] = steps[s].j;
    return a_to_b;
}

// ---------------------------------------------------------------------------
// Matching by content
//
// Entries and groups of one name are told apart by what they hold. A node's lines
// are its descendants without children, each known by the chain of lines (name,
// flag, content) from the node's child down to it; two nodes share a line when both
// hold it under the same chain. So a child that has children counts as shared one
// level down, by the lines the two hold alike.
//
// The cost is bounded: content matching may walk, compare and score only so much per
// level (kLevelBudget) and per merge. What does not fit falls back to the cheaper
// pairing: equal subtrees and lines that only one candidate on each side holds;
// nothing is paired or fused by name alone, and unmatched nodes are kept side by
// side (a base node unmatched counts as deleted, a side's as added). The merge then
// stays linear in practice whatever the names, and never loses a line.

constexpr std::size_t kLevelBudget = std::size_t{1} << 18;

class Budget {
public:
    explicit Budget(std::size_t total) : total_(total) {}

    void start_level() { level_ = std::min(kLevelBudget, total_); }
    // False, spending nothing, when `work` does not fit.
    bool spend(std::size_t work)
    {
        if (work > level_) return false;
        level_ -= work;
        total_ -= work;
        return true;
    }

private:
    std::size_t total_;
    std::size_t level_ = 0;
};

// Hashes of lines are as telling as the lines themselves: every buffer that holds
// them is wiped before its memory goes back.
template <class T>
void wipe_vector(std::vector<T>& v) noexcept
{
    if (v.capacity() != 0) secure_wipe(v.data(), v.capacity() * sizeof(T));
    v.clear();
}

template <class T>
void push_wiped(std::vector<T>& v, const T& item)
{
    if (v.size() == v.capacity()) {
        std::vector<T> grown;
        grown.reserve(v.capacity() < 8 ? 8 : 2 * v.capacity());
        grown.assign(v.begin(), v.end());
        wipe_vector(v);
        v.swap(grown);
    }
    v.push_back(item);
}

std::uint64_t mix(std::uint64_t h, std::uint64_t x)
{
    // splitmix64's finaliser over the running value and the next word
    h ^= x + 0x9E3779B97F4A7C15u + (h << 6) + (h >> 2);
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9u;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBu;
    return h ^ (h >> 31);
}

std::uint64_t name_hash(const TreeNode& node)
{
    std::uint64_t h = mix(7, node.name.size());
    for (unsigned char c : node.name) h = mix(h, c);
    return h;
}

std::uint64_t line_hash(const TreeNode& node)
{
    std::uint64_t h = mix(name_hash(node), node.single_line ? 3 : 5);
    h = mix(h, node.content.size());
    for (unsigned char c : node.content) h = mix(h, c);
    return h;
}

struct Content {
    std::uint64_t whole = 0;  // the subtree below the node, in order: equal subtrees hash alike
    std::vector<std::uint64_t> lines;  // the chains of its lines, sorted, repeats kept

    Content() = default;
    Content(Content&&) noexcept = default;
    Content& operator=(Content&&) = delete;
    Content(const Content&) = delete;
    Content& operator=(const Content&) = delete;
    ~Content()
    {
        secure_wipe(&whole, sizeof whole);
        wipe_vector(lines);
    }
};

// False when the walk does not fit the budget.
bool content_of(const TreeNode& node, Budget& budget, Content& out)
{
    std::vector<std::uint64_t> chain;  // chain[d]: the names from `node`'s child down to the open node at depth d
    out.whole = mix(0, node.children.size());
    const bool fits = for_each_below(node, [&](const TreeNode& n, std::size_t depth, std::size_t) {
        if (!budget.spend(1)) return false;
        const std::uint64_t above = depth == 0 ? 0 : chain[depth - 1];
        const std::uint64_t line = line_hash(n);
        out.whole = mix(mix(out.whole, depth), line);
        if (n.children.empty() || n.single_line) push_wiped(out.lines, mix(above, line));
        if (n.children.empty()) return true;
        if (chain.size() <= depth) push_wiped(chain, std::uint64_t{0});
        chain[depth] = mix(above, name_hash(n));
        return true;
    });
    wipe_vector(chain);
    std::sort(out.lines.begin(), out.lines.end());
    return fits;
}

// True when x and y (of one name) may become one node: no name among their children
// without children holds different values on the two sides (the sets of values of
// each name held by both are equal), and, when both have children, they do not
// hold two different values themselves.
bool fusable(const TreeNode& x, const TreeNode& y, Budget& budget)
{
    if (!x.children.empty() && !y.children.empty() && x.single_line && y.single_line && x.content != y.content)
        return false;
    if (!budget.spend(x.children.size() + y.children.size() + 1)) return false;
    auto leaves = [](const TreeNode& n) {
        std::vector<const TreeNode*> out;
        for (const TreeNode& c : n.children)
            if (c.children.empty()) out.push_back(&c);
        std::sort(out.begin(), out.end(), [](const TreeNode* p, const TreeNode* q) {
            if (p->name != q->name) return p->name < q->name;
            if (p->single_line != q->single_line) return q->single_line;
            return p->content < q->content;
        });
        return out;
    };
    const std::vector<const TreeNode*> xs = leaves(x);
    const std::vector<const TreeNode*> ys = leaves(y);
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < xs.size() && j < ys.size()) {
        if (xs[i]->name != ys[j]->name) {
            if (xs[i]->name < ys[j]->name)
                ++i;
            else
                ++j;
            continue;
        }
        const std::string& name = xs[i]->name;
        // Both hold `name`: the distinct values must be the same.
        while (i < xs.size() && j < ys.size() && xs[i]->name == name && ys[j]->name == name) {
            if (!same_value(*xs[i], *ys[j])) return false;
            const TreeNode& v = *xs[i];
            while (i < xs.size() && xs[i]->name == name && same_value(*xs[i], v)) ++i;
            while (j < ys.size() && ys[j]->name == name && same_value(*ys[j], v)) ++j;
        }
        if ((i < xs.size() && xs[i]->name == name) || (j < ys.size() && ys[j]->name == name)) return false;
    }
    return true;
}

// An entry: a node whose children are all lines (none has children).
bool is_entry(const TreeNode& node)
{
    if (node.children.empty()) return false;
    for (const TreeNode& child : node.children)
        if (!child.children.empty()) return false;
    return true;
}

// The pairs made between the candidates `as` of one list and `bs` of another:
// take(p, q) pairs as[p] with bs[q].
struct Pairs {
    const std::vector<std::size_t>& as;
    const std::vector<std::size_t>& bs;
    std::vector<std::size_t>& a_to_b;
    std::vector<bool> a_used;
    std::vector<bool> b_used;

    void operator()(std::size_t p, std::size_t q)
    {
        a_used[p] = true;
        b_used[q] = true;
        a_to_b[as[p]] = bs[q];
    }
};

// How two lists' nodes of one name pair up by content.
struct ContentRules {
    bool must_agree;  // every pair must be fusable (nodes that only the two sides hold)
    bool by_name;  // what shares nothing pairs, in order, with the first candidate it may fuse with
    bool no_two_entries;  // never pairs two entries (evidence decided those)
};

// Pairs the nodes `as` of `a` with the nodes `bs` of `b` (all of one name, each list
// in order): equal subtrees first, then the pairs that share the most lines (ties
// in the order of a, then of b), then by name alone where `rules` allow. Writes each
// pair into a_to_b.
void pair_by_content(const std::vector<TreeNode>& a, const std::vector<std::size_t>& as, const std::vector<TreeNode>& b,
                     const std::vector<std::size_t>& bs, ContentRules rules, Budget& budget,
                     std::vector<std::size_t>& a_to_b)
{
    // One node on each side pairs whenever it may fuse, whatever it shares: no
    // need to look at the content then.
    auto allowed = [&](std::size_t p, std::size_t q) {
        return !rules.no_two_entries || !is_entry(a[as[p]]) || !is_entry(b[bs[q]]);
    };
    if (rules.by_name && as.size() == 1 && bs.size() == 1 && allowed(0, 0)) {
        if (fusable(a[as[0]], b[bs[0]], budget)) {
            a_to_b[as[0]] = bs[0];
            return;
        }
        if (rules.must_agree) return;
    }
    std::vector<Content> ac(as.size());
    std::vector<Content> bc(bs.size());
    for (std::size_t p = 0; p < as.size(); ++p)
        if (!content_of(a[as[p]], budget, ac[p])) return;  // over budget: nothing paired
    for (std::size_t q = 0; q < bs.size(); ++q)
        if (!content_of(b[bs[q]], budget, bc[q])) return;
    Pairs take{as, bs, a_to_b, std::vector<bool>(as.size(), false), std::vector<bool>(bs.size(), false)};
    std::vector<bool>& a_used = take.a_used;
    std::vector<bool>& b_used = take.b_used;

    // Equal subtrees, in order.
    std::vector<std::size_t> by_whole(bs.size());
    std::iota(by_whole.begin(), by_whole.end(), std::size_t{0});
    std::sort(by_whole.begin(), by_whole.end(), [&](std::size_t x, std::size_t y) {
        return bc[x].whole != bc[y].whole ? bc[x].whole < bc[y].whole : x < y;
    });
    for (std::size_t p = 0; p < as.size(); ++p) {
        auto q = std::lower_bound(by_whole.begin(), by_whole.end(), ac[p].whole,
                                  [&](std::size_t x, std::uint64_t w) { return bc[x].whole < w; });
        for (; q != by_whole.end() && bc[*q].whole == ac[p].whole; ++q) {
            if (b_used[*q] || !allowed(p, *q) || !budget.spend(ac[p].lines.size() + 1)) continue;
            if (a[as[p]] == b[bs[*q]]) {
                take(p, *q);
                break;
            }
        }
    }

    // Shared lines. A posting is one line of one candidate, with its repeats.
    struct Posting {
        std::uint64_t line;
        std::size_t node;
        std::size_t count;
    };
    auto postings = [](const std::vector<Content>& contents, const std::vector<bool>& used) {
        std::size_t size = 0;
        for (std::size_t p = 0; p < contents.size(); ++p)
            if (!used[p]) size += contents[p].lines.size();
        std::vector<Posting> out;
        out.reserve(size);
        for (std::size_t p = 0; p < contents.size(); ++p) {
            if (used[p]) continue;
            const std::vector<std::uint64_t>& lines = contents[p].lines;
            for (std::size_t k = 0; k < lines.size();) {
                std::size_t end = k;
                while (end < lines.size() && lines[end] == lines[k]) ++end;
                out.push_back({lines[k], p, end - k});
                k = end;
            }
        }
        std::sort(out.begin(), out.end(), [](const Posting& x, const Posting& y) {
            return x.line != y.line ? x.line < y.line : x.node < y.node;
        });
        return out;
    };
    std::vector<Posting> a_lines = postings(ac, a_used);
    std::vector<Posting> b_lines = postings(bc, b_used);
    // Walks the lines both sides hold: f(a run, b run) for each.
    auto for_each_shared = [&](auto&& f) {
        std::size_t i = 0;
        std::size_t j = 0;
        while (i < a_lines.size() && j < b_lines.size()) {
            if (a_lines[i].line != b_lines[j].line) {
                if (a_lines[i].line < b_lines[j].line)
                    ++i;
                else
                    ++j;
                continue;
            }
            std::size_t i_end = i;
            std::size_t j_end = j;
            while (i_end < a_lines.size() && a_lines[i_end].line == a_lines[i].line) ++i_end;
            while (j_end < b_lines.size() && b_lines[j_end].line == b_lines[j].line) ++j_end;
            f(i, i_end, j, j_end);
            i = i_end;
            j = j_end;
        }
    };
    if (!budget.spend(a_lines.size() + b_lines.size())) {
        wipe_vector(a_lines);
        wipe_vector(b_lines);
        return;
    }
    std::size_t work = 0;
    for_each_shared(
        [&](std::size_t i, std::size_t i_end, std::size_t j, std::size_t j_end) { work += (i_end - i) * (j_end - j); });
    // Over budget, only the lines that one candidate on each side holds count.
    const bool full = budget.spend(work);
    struct Scored {
        std::size_t a;
        std::size_t b;
        std::size_t shared;
    };
    std::vector<Scored> scored;
    for_each_shared([&](std::size_t i, std::size_t i_end, std::size_t j, std::size_t j_end) {
        if (!full && (i_end - i != 1 || j_end - j != 1)) return;
        for (std::size_t x = i; x < i_end; ++x)
            for (std::size_t y = j; y < j_end; ++y)
                scored.push_back({a_lines[x].node, b_lines[y].node, std::min(a_lines[x].count, b_lines[y].count)});
    });
    wipe_vector(a_lines);
    wipe_vector(b_lines);
    std::sort(scored.begin(), scored.end(),
              [](const Scored& x, const Scored& y) { return x.a != y.a ? x.a < y.a : x.b < y.b; });
    std::size_t kept = 0;
    for (std::size_t k = 0; k < scored.size(); ++k) {
        if (kept > 0 && scored[kept - 1].a == scored[k].a && scored[kept - 1].b == scored[k].b)
            scored[kept - 1].shared += scored[k].shared;
        else
            scored[kept++] = scored[k];
    }
    scored.resize(kept);
    std::sort(scored.begin(), scored.end(), [](const Scored& x, const Scored& y) {
        if (x.shared != y.shared) return x.shared > y.shared;
        return x.a != y.a ? x.a < y.a : x.b < y.b;
    });
    for (const Scored& s : scored) {
        if (a_used[s.a] || b_used[s.b] || !allowed(s.a, s.b)) continue;
        if (rules.must_agree && !fusable(a[as[s.a]], b[bs[s.b]], budget)) continue;
        take(s.a, s.b);
    }

    // By name alone: each of b's nodes in order with the first of a's that agrees,
    // one holding the same value first.
    if (!full || !rules.by_name) return;
    for (std::size_t q = 0; q < bs.size(); ++q) {
        if (b_used[q]) continue;
        std::size_t chosen = kNone;
        for (std::size_t p = 0; p < as.size(); ++p) {
            if (a_used[p] || !allowed(p, q) || (chosen != kNone && !same_value(a[as[p]], b[bs[q]]))) continue;
            if (!fusable(a[as[p]], b[bs[q]], budget)) continue;
            const bool same = same_value(a[as[p]], b[bs[q]]);
            if (chosen == kNone || same) chosen = p;
            if (same) break;
        }
        if (chosen != kNone) take(chosen, q);
    }
}

// ---------------------------------------------------------------------------
// Pairing entries by evidence
//
// An entry is a node whose children have no children: its lines. Two entries of one
// name pair only where what they hold shows they are one: equal subtrees; the same
// user name where no other open entry of that name on either side holds it; a user
// name changed while every other line is equal; or, scored by the lines they share,
// the same line names with few values changed. Where two candidates score alike,
// neither pairs, nor at any lower score. Equal subtrees, user names and renamed
// accounts go through sorted keys (linear after the sort, whatever the size); only
// the scoring is bounded by the budget, and over it nothing more is paired.

enum class PairMode {
    kWithBase,  // a side with the base: its entries may have changed
    kTwoWay,  // the vault with another file: no common base
    kAddedBoth,  // entries added on both sides: paired ones are fused, so they must agree
};

// A node's name, value and subtree: equal subtrees hash alike. Needs no stack in
// proportion to the depth.
std::uint64_t subtree_hash(const TreeNode& node)
{
    std::uint64_t h = line_hash(node);
    for_each_below(
        node, [&h](const TreeNode& n, std::size_t depth, std::size_t) { h = mix(mix(h, depth + 1), line_hash(n)); });
    return h;
}

// The user-name line an entry is known by: its first, when it is a line.
const TreeNode* user_line(const TreeNode& entry)
{
    const TreeNode* user = first_field(entry, FieldKind::kUserName);
    return user && user->children.empty() ? user : nullptr;
}

// An entry's lines sorted by name, flag and value, without `skip`.
std::vector<const TreeNode*> sorted_lines(const TreeNode& entry, const TreeNode* skip)
{
    std::vector<const TreeNode*> out;
    out.reserve(entry.children.size());
    for (const TreeNode& child : entry.children)
        if (&child != skip) out.push_back(&child);
    std::sort(out.begin(), out.end(), [](const TreeNode* p, const TreeNode* q) {
        if (p->name != q->name) return p->name < q->name;
        if (p->single_line != q->single_line) return q->single_line;
        return p->content < q->content;
    });
    return out;
}

struct LineCompare {
    std::size_t shared = 0;  // lines both hold (repeats counted as often as both hold them)
    std::size_t changed = 0;  // names both hold with different values
    std::size_t only = 0;  // names one holds
};

LineCompare compare_lines(const std::vector<const TreeNode*>& xs, const std::vector<const TreeNode*>& ys)
{
    LineCompare c;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < xs.size() || j < ys.size()) {
        if (j == ys.size() || (i < xs.size() && xs[i]->name < ys[j]->name)) {
            const std::string& name = xs[i]->name;
            while (i < xs.size() && xs[i]->name == name) ++i;
            ++c.only;
            continue;
        }
        if (i == xs.size() || ys[j]->name < xs[i]->name) {
            const std::string& name = ys[j]->name;
            while (j < ys.size() && ys[j]->name == name) ++j;
            ++c.only;
            continue;
        }
        const std::string& name = xs[i]->name;
        bool differ = false;
        while (i < xs.size() && j < ys.size() && xs[i]->name == name && ys[j]->name == name) {
            if (same_value(*xs[i], *ys[j])) {
                ++c.shared;
                ++i;
                ++j;
            } else {
                differ = true;
                if (!xs[i]->single_line || (ys[j]->single_line && xs[i]->content < ys[j]->content))
                    ++i;
                else
                    ++j;
            }
        }
        while (i < xs.size() && xs[i]->name == name) differ = true, ++i;
        while (j < ys.size() && ys[j]->name == name) differ = true, ++j;
        c.changed += differ ? 1 : 0;
    }
    return c;
}

// Whether entries x and y (of one name) show that they are one, and how many lines
// they share.
bool evidence(const TreeNode& x, const TreeNode& y, PairMode mode, std::size_t* shared)
{
    if (mode == PairMode::kAddedBoth && x.single_line && y.single_line && x.content != y.content) return false;
    const LineCompare c = compare_lines(sorted_lines(x, nullptr), sorted_lines(y, nullptr));
    *shared = c.shared;
    const TreeNode* ux = user_line(x);
    const TreeNode* uy = user_line(y);
    // Two-way, an entry that holds the other's user name among its own is of that
    // user (a renamed account merged before holds both names).
    auto holds_user = [](const TreeNode& entry, const TreeNode& user) {
        for (const TreeNode& line : entry.children)
            if (field_kind(line.name) == FieldKind::kUserName && same_value(line, user)) return true;
        return false;
    };
    if (ux && uy) {
        if (same_value(*ux, *uy) || (mode == PairMode::kTwoWay && (holds_user(x, *uy) || holds_user(y, *ux)))) {
            if (mode == PairMode::kWithBase) return true;
            return mode == PairMode::kTwoWay ? c.changed <= 1 : c.changed == 0;
        }
        // A renamed account: every other line equal.
        if (mode == PairMode::kAddedBoth) return false;
        const LineCompare rest = compare_lines(sorted_lines(x, ux), sorted_lines(y, uy));
        return rest.changed == 0 && rest.only == 0;
    }
    switch (mode) {
    case PairMode::kWithBase: return c.only == 0 || (c.shared > 0 && c.changed < c.shared);
    case PairMode::kTwoWay: return (c.only == 0 || c.shared > 0) && c.changed <= 1;
    case PairMode::kAddedBoth: break;
    }
    return c.shared > 0 && c.changed == 0;
}

// One key of an open entry on one side, for pairing through sorted keys.
struct Keyed {
    std::uint64_t key;
    bool in_b;
    std::size_t at;  // position in the candidates' list
};

// Calls f(a positions, b positions) for every key that both sides hold, each list
// in order. Wipes the keys.
template <class F>
void for_each_shared_key(std::vector<Keyed>& keys, F&& f)
{
    std::sort(keys.begin(), keys.end(), [](const Keyed& x, const Keyed& y) {
        if (x.key != y.key) return x.key < y.key;
        return x.in_b != y.in_b ? y.in_b : x.at < y.at;
    });
    std::vector<std::size_t> as;
    std::vector<std::size_t> bs;
    for (std::size_t k = 0; k < keys.size();) {
        std::size_t end = k;
        as.clear();
        bs.clear();
        for (; end < keys.size() && keys[end].key == keys[k].key; ++end)
            (keys[end].in_b ? bs : as).push_back(keys[end].at);
        if (!as.empty() && !bs.empty()) f(as, bs);
        k = end;
    }
    wipe_vector(keys);
}

std::uint64_t value_hash(const TreeNode& line)
{
    std::uint64_t h = mix(line.single_line ? 3 : 5, line.content.size());
    for (unsigned char c : line.content) h = mix(h, c);
    return h;
}

// The hash of an entry's lines in sorted order, without `skip`.
std::uint64_t lines_hash(const TreeNode& entry, const TreeNode* skip)
{
    std::uint64_t h = 11;
    for (const TreeNode* line : sorted_lines(entry, skip)) h = mix(h, line_hash(*line));
    return h;
}

std::uint64_t names_hash(const TreeNode& entry)
{
    std::uint64_t h = 13;
    const std::vector<const TreeNode*> lines = sorted_lines(entry, nullptr);
    for (std::size_t k = 0; k < lines.size(); ++k)
        if (k == 0 || lines[k]->name != lines[k - 1]->name) h = mix(h, name_hash(*lines[k]));
    return h;
}

// Pairs the entries `as` of `a` with the entries `bs` of `b` (all of one name, each
// list in order) by evidence. Writes each pair into a_to_b.
void pair_entries(const std::vector<TreeNode>& a, const std::vector<std::size_t>& as, const std::vector<TreeNode>& b,
                  const std::vector<std::size_t>& bs, PairMode mode, Budget& budget, std::vector<std::size_t>& a_to_b)
{
    Pairs take{as, bs, a_to_b, std::vector<bool>(as.size(), false), std::vector<bool>(bs.size(), false)};
    std::vector<bool>& a_used = take.a_used;
    std::vector<bool>& b_used = take.b_used;
    std::vector<Keyed> keys;
    auto open_keys = [&](auto&& key_of) {
        for (std::size_t p = 0; p < as.size(); ++p)
            if (!a_used[p]) {
                std::uint64_t key = 0;
                if (key_of(a[as[p]], key)) keys.push_back({key, false, p});
            }
        for (std::size_t q = 0; q < bs.size(); ++q)
            if (!b_used[q]) {
                std::uint64_t key = 0;
                if (key_of(b[bs[q]], key)) keys.push_back({key, true, q});
            }
    };

    // Equal subtrees, the k-th with the k-th.
    open_keys([](const TreeNode& n, std::uint64_t& key) { return key = subtree_hash(n), true; });
    for_each_shared_key(keys, [&](const std::vector<std::size_t>& ps, const std::vector<std::size_t>& qs) {
        std::size_t k = 0;
        for (std::size_t p : ps) {
            while (k < qs.size() && !(a[as[p]] == b[bs[qs[k]]])) ++k;
            if (k == qs.size()) break;
            take(p, qs[k++]);
        }
    });

    // One user name, held by one open entry on each side; then renamed accounts.
    std::size_t shared = 0;
    auto pair_unique = [&](const std::vector<std::size_t>& ps, const std::vector<std::size_t>& qs) {
        if (ps.size() == 1 && qs.size() == 1 && evidence(a[as[ps[0]]], b[bs[qs[0]]], mode, &shared)) take(ps[0], qs[0]);
    };
    open_keys([](const TreeNode& n, std::uint64_t& key) {
        const TreeNode* user = user_line(n);
        return user && (key = value_hash(*user), true);
    });
    for_each_shared_key(keys, pair_unique);
    if (mode != PairMode::kAddedBoth) {
        open_keys([](const TreeNode& n, std::uint64_t& key) {
            const TreeNode* user = user_line(n);
            return user && (key = lines_hash(n, user), true);
        });
        for_each_shared_key(keys, pair_unique);
    }

    // Scored by shared lines, or the same line names: the candidates first, within
    // the budget.
    struct Candidate {
        std::size_t p;
        std::size_t q;
        std::size_t shared;
    };
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    open_keys([](const TreeNode& n, std::uint64_t& key) { return key = names_hash(n), true; });
    std::vector<Keyed> lines;
    for (const Keyed& k : keys) {
        const TreeNode& n = k.in_b ? b[bs[k.at]] : a[as[k.at]];
        for (const TreeNode& line : n.children) push_wiped(lines, Keyed{line_hash(line), k.in_b, k.at});
    }
    lines.insert(lines.end(), keys.begin(), keys.end());
    wipe_vector(keys);
    bool fits = true;
    for_each_shared_key(lines, [&](const std::vector<std::size_t>& ps, const std::vector<std::size_t>& qs) {
        if (!fits) return;
        if (!(fits = budget.spend(ps.size() * qs.size()))) return;
        for (std::size_t p : ps)
            for (std::size_t q : qs) pairs.emplace_back(p, q);
    });
    if (!fits) return;
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    std::vector<Candidate> candidates;
    for (const auto& pq : pairs) {
        const TreeNode& x = a[as[pq.first]];
        const TreeNode& y = b[bs[pq.second]];
        if (!budget.spend(x.children.size() + y.children.size() + 1)) return;
        if (evidence(x, y, mode, &shared)) candidates.push_back({pq.first, pq.second, shared});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& x, const Candidate& y) { return x.shared > y.shared; });
    // Score by score: a pair is taken when neither of its entries has another open
    // candidate of that score; an entry with two never pairs.
    std::vector<std::size_t> a_count(as.size(), 0);
    std::vector<std::size_t> b_count(bs.size(), 0);
    std::vector<bool> a_unsure(as.size(), false);
    std::vector<bool> b_unsure(bs.size(), false);
    for (std::size_t k = 0; k < candidates.size();) {
        std::size_t end = k;
        while (end < candidates.size() && candidates[end].shared == candidates[k].shared) ++end;
        auto open = [&](const Candidate& c) {
            return !a_used[c.p] && !b_used[c.q] && !a_unsure[c.p] && !b_unsure[c.q];
        };
        for (std::size_t c = k; c < end; ++c)
            if (open(candidates[c])) ++a_count[candidates[c].p], ++b_count[candidates[c].q];
        for (std::size_t c = k; c < end; ++c) {
            const Candidate& cand = candidates[c];
            if (!open(cand)) continue;
            if (a_count[cand.p] == 1 && b_count[cand.q] == 1) take(cand.p, cand.q);
        }
        for (std::size_t c = k; c < end; ++c) {
            const Candidate& cand = candidates[c];
            if (a_count[cand.p] > 1) a_unsure[cand.p] = true;
            if (b_count[cand.q] > 1) b_unsure[cand.q] = true;
        }
        for (std::size_t c = k; c < end; ++c) a_count[candidates[c].p] = b_count[candidates[c].q] = 0;
        k = end;
    }
}

// Pairs the nodes `as` of `a` with the nodes `bs` of `b`, all of one name and each
// list in order: entries by evidence; then with the base, groups by content (a group
// alone on each side with the other); otherwise what is left by content and by name
// where it may fuse, never two entries (evidence decided those).
void pair_nodes(const std::vector<TreeNode>& a, const std::vector<std::size_t>& as, const std::vector<TreeNode>& b,
                const std::vector<std::size_t>& bs, PairMode mode, Budget& budget, std::vector<std::size_t>& a_to_b)
{
    auto split = [](const std::vector<TreeNode>& list, const std::vector<std::size_t>& nodes,
                    std::vector<std::size_t>& entries, std::vector<std::size_t>& groups) {
        for (std::size_t i : nodes) {
            if (is_entry(list[i]))
                entries.push_back(i);
            else if (!list[i].children.empty())
                groups.push_back(i);
        }
    };
    std::vector<std::size_t> a_entries, a_groups, b_entries, b_groups;
    split(a, as, a_entries, a_groups);
    split(b, bs, b_entries, b_groups);
    pair_entries(a, a_entries, b, b_entries, mode, budget, a_to_b);
    if (mode == PairMode::kWithBase) {
        if (a_groups.size() == 1 && b_groups.size() == 1)
            a_to_b[a_groups[0]] = b_groups[0];
        else if (!a_groups.empty() && !b_groups.empty())
            pair_by_content(a, a_groups, b, b_groups, {false, false, true}, budget, a_to_b);
        return;
    }
    std::vector<bool> b_taken(b.size(), false);
    std::vector<std::size_t> a_open;
    std::vector<std::size_t> b_open;
    for (std::size_t i : as) {
        if (a_to_b[i] != kNone)
            b_taken[a_to_b[i]] = true;
        else
            a_open.push_back(i);
    }
    for (std::size_t j : bs)
        if (!b_taken[j]) b_open.push_back(j);
    if (!a_open.empty() && !b_open.empty())
        pair_by_content(a, a_open, b, b_open, {mode == PairMode::kAddedBoth, true, true}, budget, a_to_b);
}

// Calls f(a_nodes, b_nodes) for each name that the given nodes of a or b hold, with
// that name's nodes of each list in order.
template <class F>
void for_each_name(const std::vector<TreeNode>& a, const std::vector<std::size_t>& as, const std::vector<TreeNode>& b,
                   const std::vector<std::size_t>& bs, F&& f)
{
    struct Item {
        const std::string* name;
        bool in_b;
        std::size_t index;
    };
    std::vector<Item> items;
    items.reserve(as.size() + bs.size());
    for (std::size_t i : as) items.push_back({&a[i].name, false, i});
    for (std::size_t j : bs) items.push_back({&b[j].name, true, j});
    std::sort(items.begin(), items.end(), [](const Item& x, const Item& y) {
        if (*x.name != *y.name) return *x.name < *y.name;
        return x.in_b != y.in_b ? y.in_b : x.index < y.index;
    });
    std::vector<std::size_t> a_nodes;
    std::vector<std::size_t> b_nodes;
    for (std::size_t k = 0; k < items.size();) {
        a_nodes.clear();
        b_nodes.clear();
        std::size_t end = k;
        for (; end < items.size() && *items[end].name == *items[k].name; ++end)
            (items[end].in_b ? b_nodes : a_nodes).push_back(items[end].index);
        f(a_nodes, b_nodes);
        k = end;
    }
}

std::vector<std::size_t> all_of(const std::vector<TreeNode>& list)
{
    std::vector<std::size_t> out(list.size());
    std::iota(out.begin(), out.end(), std::size_t{0});
    return out;
}

bool any_with_children(const std::vector<TreeNode>& list, const std::vector<std::size_t>& nodes)
{
    for (std::size_t i : nodes)
        if (!list[i].children.empty()) return true;
    return false;
}

// Matches a side's nodes with the base's. Where a name has more than one node with
// children on either list, those nodes pair by content and only by content (an entry
// that shares nothing with any of the base's counts as added, the base's as
// deleted); all other nodes (values, and entries whose name is unique on both lists)
// match by name in order. Returns for each node of `side` its match in `base`.
std::vector<std::size_t> match_with_base(const std::vector<TreeNode>& side, const std::vector<TreeNode>& base,
                                         Budget& budget)
{
    // Keys for the match in order: one per name, and one per pair made by content, so
    // that those pairs anchor the order for the nodes matched by name around them.
    std::vector<std::size_t> side_keys(side.size(), kNone);
    std::vector<std::size_t> base_keys(base.size(), kNone);
    std::vector<std::size_t> by_content(side.size(), kNone);
    std::size_t next_key = 0;
    std::vector<std::size_t> cs;
    std::vector<std::size_t> cb;
    for_each_name(side, all_of(side), base, all_of(base),
                  [&](const std::vector<std::size_t>& s_nodes, const std::vector<std::size_t>& b_nodes) {
                      const std::size_t name_key = next_key++;
                      cs.clear();
                      cb.clear();
                      for (std::size_t i : s_nodes)
                          if (!side[i].children.empty()) cs.push_back(i);
                      for (std::size_t j : b_nodes)
                          if (!base[j].children.empty()) cb.push_back(j);
                      const bool content = !cs.empty() && !cb.empty();
                      for (std::size_t i : s_nodes)
                          if (!content || side[i].children.empty()) side_keys[i] = name_key;
                      for (std::size_t j : b_nodes)
                          if (!content || base[j].children.empty()) base_keys[j] = name_key;
                      if (!content) return;
                      pair_nodes(side, cs, base, cb, PairMode::kWithBase, budget, by_content);
                      for (std::size_t i : cs) {
                          if (by_content[i] == kNone) continue;
                          side_keys[i] = next_key;
                          base_keys[by_content[i]] = next_key++;
                      }
                  });
    std::vector<std::size_t> side_to_base = match_in_order(side_keys, base_keys);
    // A pair by content wins over a match by name that crosses it.
    std::vector<std::size_t> before(side.size() + 1, 0);  // before[i]: 1 + the largest base index paired before i
    std::vector<std::size_t> after(side.size() + 1, kNone);  // after[i]: the smallest base index paired from i on
    for (std::size_t i = 0; i < side.size(); ++i)
        before[i + 1] = by_content[i] != kNone ? std::max(before[i], by_content[i] + 1) : before[i];
    for (std::size_t i = side.size(); i-- > 0;)
        after[i] = by_content[i] != kNone ? std::min(after[i + 1], by_content[i]) : after[i + 1];
    for (std::size_t i = 0; i < side.size(); ++i) {
        if (by_content[i] != kNone)
            side_to_base[i] = by_content[i];
        else if (side_to_base[i] != kNone && (before[i] > side_to_base[i] || after[i + 1] < side_to_base[i]))
            side_to_base[i] = kNone;
    }
    return side_to_base;
}

// A list's nodes by a hash, sorted: the candidates for a node equal in what the
// hash covers are one range. The hashes are wiped with the index.
class HashIndex {
public:
    template <class Hash>
    HashIndex(const std::vector<TreeNode>& list, Hash hash)
    {
        keys_.reserve(list.size());
        for (std::size_t i = 0; i < list.size(); ++i) keys_.emplace_back(hash(list[i]), i);
        std::sort(keys_.begin(), keys_.end());
    }
    HashIndex(const HashIndex&) = delete;
    HashIndex& operator=(const HashIndex&) = delete;
    ~HashIndex() { wipe_vector(keys_); }

    // The positions [first, last) of the nodes whose hash is `key`.
    std::pair<std::size_t, std::size_t> range(std::uint64_t key) const
    {
        const auto first = std::lower_bound(keys_.begin(), keys_.end(), std::make_pair(key, std::size_t{0}));
        auto last = first;
        while (last != keys_.end() && last->first == key) ++last;
        return {static_cast<std::size_t>(first - keys_.begin()), static_cast<std::size_t>(last - keys_.begin())};
    }
    std::size_t at(std::size_t position) const { return keys_[position].second; }

private:
    std::vector<std::pair<std::uint64_t, std::size_t>> keys_;
};

// True when one of `siblings` named like `node` holds its value.
bool value_held(const std::vector<TreeNode>& siblings, const HashIndex& values, const TreeNode& node)
{
    const auto r = values.range(line_hash(node));
    for (std::size_t p = r.first; p < r.second; ++p) {
        const TreeNode& s = siblings[values.at(p)];
        if (s.name == node.name && same_value(s, node)) return true;
    }
    return false;
}

// Where one merged child comes from.
struct Entry {
    enum Kind {
        kCopy,  // `ours` copied whole
        kThree,  // name of `ours`, value of `value`, children the three-way merge of base/ours/theirs
        kTwo,  // name of `ours`, value of `value`, children the two-way merge of ours/theirs
        kValue,  // `ours`'s name and value alone: a value kept twice
    };
    Kind kind = kCopy;
    const TreeNode* base = nullptr;
    const TreeNode* ours = nullptr;
    const TreeNode* theirs = nullptr;
    const TreeNode* value = nullptr;
};

Entry copy_of(const TreeNode& node)
{
    Entry entry;
    entry.ours = &node;
    return entry;
}

Entry value_of(const TreeNode& node)
{
    Entry entry;
    entry.kind = Entry::kValue;
    entry.ours = &node;
    return entry;
}

// A child of the output: one main entry, the value that follows it when kept twice,
// and the nodes of theirs placed after it.
struct Slot {
    Entry main;
    bool has_main = false;
    bool has_twice = false;
    Entry twice;
    bool ours_added = false;
    std::vector<Entry> after;
};

// Two nodes of the same name to be merged without a base: the vault's value, unless
// only other has one; other's different single-line value follows unless one of
// `siblings` (the vault's nodes of that level) already holds it under that name.
Entry two_way_entry(const TreeNode& vault, const TreeNode& other, const std::vector<TreeNode>& siblings,
                    const HashIndex& values, Entry* twice)
{
    Entry entry;
    entry.kind = Entry::kTwo;
    entry.ours = &vault;
    entry.theirs = &other;
    entry.value = vault.single_line || !other.single_line ? &vault : &other;
    if (twice && vault.single_line && other.single_line && vault.content != other.content &&
        !value_held(siblings, values, other))
        *twice = value_of(other);
    return entry;
}

// The three-way decision for one level.
std::vector<Slot> three_way_level(const std::vector<TreeNode>& base, const std::vector<TreeNode>& ours,
                                  const std::vector<TreeNode>& theirs, Budget* level_budget)
{
    Budget& budget = *level_budget;
    const HashIndex ours_values(ours, line_hash);
    // Each side, and the nodes both added, have a budget of their own: one cannot
    // starve another.
    budget.start_level();
    const std::vector<std::size_t> ours_to_base = match_with_base(ours, base, budget);
    budget.start_level();
    const std::vector<std::size_t> theirs_to_base = match_with_base(theirs, base, budget);
    budget.start_level();
    std::vector<std::size_t> base_to_theirs(base.size(), kNone);
    for (std::size_t j = 0; j < theirs.size(); ++j)
        if (theirs_to_base[j] != kNone) base_to_theirs[theirs_to_base[j]] = j;

    // Nodes added on both sides: values meet by name, the k-th with the k-th; where a
    // name has nodes with children, they pair by content and fuse only what agrees.
    std::vector<std::size_t> ours_added;
    std::vector<std::size_t> theirs_added;
    for (std::size_t i = 0; i < ours.size(); ++i)
        if (ours_to_base[i] == kNone) ours_added.push_back(i);
    for (std::size_t j = 0; j < theirs.size(); ++j)
        if (theirs_to_base[j] == kNone) theirs_added.push_back(j);
    std::vector<std::size_t> ours_to_theirs(ours.size(), kNone);
    for_each_name(ours, ours_added, theirs, theirs_added,
                  [&](const std::vector<std::size_t>& o_nodes, const std::vector<std::size_t>& t_nodes) {
                      if (o_nodes.empty() || t_nodes.empty()) return;
                      if (any_with_children(ours, o_nodes) || any_with_children(theirs, t_nodes)) {
                          pair_nodes(ours, o_nodes, theirs, t_nodes, PairMode::kAddedBoth, budget, ours_to_theirs);
                          return;
                      }
                      for (std::size_t k = 0; k < o_nodes.size() && k < t_nodes.size(); ++k)
                          ours_to_theirs[o_nodes[k]] = t_nodes[k];
                  });

    std::vector<Slot> slots(1);  // slots[0] stands before the first node
    std::vector<std::size_t> theirs_slot(theirs.size(), kNone);
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const TreeNode& o = ours[i];
        const std::size_t bi = ours_to_base[i];
        const std::size_t ti = bi != kNone ? base_to_theirs[bi] : ours_to_theirs[i];
        Slot slot;
        slot.has_main = true;
        if (bi != kNone && ti != kNone) {
            const TreeNode& b = base[bi];
            const TreeNode& t = theirs[ti];
            slot.main.kind = Entry::kThree;
            slot.main.base = &b;
            slot.main.ours = &o;
            slot.main.theirs = &t;
            if (same_value(o, b)) {
                slot.main.value = &t;
            } else {
                slot.main.value = &o;
                if (!same_value(t, b) && !same_value(t, o) && t.single_line) {
                    slot.twice = value_of(t);
                    slot.has_twice = true;
                }
            }
            theirs_slot[ti] = slots.size();
        } else if (bi != kNone) {
            // Deleted by theirs: gone unless ours changed it.
            if (o == base[bi]) continue;
            slot.main = copy_of(o);
        } else if (ti != kNone) {
            // Added on both sides.
            const TreeNode& t = theirs[ti];
            if (o == t) {
                slot.main = copy_of(o);
            } else {
                slot.main = two_way_entry(o, t, ours, ours_values, &slot.twice);
                slot.has_twice = slot.twice.ours != nullptr;
            }
            theirs_slot[ti] = slots.size();
        } else {
            slot.main = copy_of(o);
            slot.ours_added = true;
        }
        slots.push_back(std::move(slot));
    }

    // The nodes only theirs holds, each after its nearest preceding survivor.
    std::size_t target = kNone;  // the slot whose `after` takes the next node; kNone: after a main
    std::size_t anchor = 0;  // the slot of the last survivor (0: none yet)
    auto skip_ours_added = [&](std::size_t s) {
        while (s + 1 < slots.size() && slots[s + 1].ours_added) ++s;
        return s;
    };
    for (std::size_t j = 0; j < theirs.size(); ++j) {
        if (theirs_slot[j] != kNone) {
            anchor = theirs_slot[j];
            target = kNone;
            continue;
        }
        const TreeNode& t = theirs[j];
        const std::size_t bj = theirs_to_base[j];
        if (bj != kNone && t == base[bj]) continue;  // deleted by ours, unchanged by theirs
        if (target == kNone) target = skip_ours_added(anchor);
        slots[target].after.push_back(copy_of(t));
    }
    return slots;
}

// The two-way decision for one level.
std::vector<Slot> two_way_level(const std::vector<TreeNode>& vault, const std::vector<TreeNode>& other,
                                Budget* level_budget)
{
    const NameIndex vault_index(vault);
    std::vector<Slot> slots(vault.size() + 1);
    for (std::size_t i = 0; i < vault.size(); ++i) {
        slots[i].main = copy_of(vault[i]);
        slots[i].has_main = true;
    }

    // A node equal to one of the vault's is present, and claims that node (the first
    // one not yet claimed) so that no other node of `other` merges into it. Equal
    // nodes are claimed in order, so each range keeps where its next claim starts.
    std::vector<bool> claimed(vault.size(), false);
    std::vector<std::size_t> absent;
    {
        const HashIndex vault_subtrees(vault, subtree_hash);
        std::vector<std::size_t> next_claim(vault.size() + 1, 0);
        for (std::size_t j = 0; j < other.size(); ++j) {
            const TreeNode& w = other[j];
            const auto r = vault_subtrees.range(subtree_hash(w));
            bool present = false;
            for (std::size_t p = r.first + next_claim[r.first]; p < r.second; ++p) {
                const std::size_t vi = vault_subtrees.at(p);
                if (claimed[vi] || vault[vi] != w) continue;
                present = claimed[vi] = true;
                next_claim[r.first] = p + 1 - r.first;
                break;
            }
            for (std::size_t p = r.first; p < r.second && !present; ++p) present = vault[vault_subtrees.at(p)] == w;
            if (!present) absent.push_back(j);
        }
    }
    const HashIndex vault_values(vault, line_hash);
    const NameIndex other_index(other);

    // Where a name has nodes with children (among those still open on either side),
    // they pair by content, and by name alone only where they agree.
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i < vault.size(); ++i)
        if (!claimed[i]) open.push_back(i);
    std::vector<std::size_t> vault_to_other(vault.size(), kNone);
    std::vector<bool> by_content(other.size(), false);
    for_each_name(vault, open, other, absent,
                  [&](const std::vector<std::size_t>& v_nodes, const std::vector<std::size_t>& w_nodes) {
                      if (w_nodes.empty()) return;
                      if (!any_with_children(vault, v_nodes) && !any_with_children(other, w_nodes)) return;
                      for (std::size_t j : w_nodes) by_content[j] = true;
                      pair_nodes(vault, v_nodes, other, w_nodes, PairMode::kTwoWay, *level_budget, vault_to_other);
                  });
    std::vector<std::size_t> other_to_vault(other.size(), kNone);
    for (std::size_t i = 0; i < vault.size(); ++i)
        if (vault_to_other[i] != kNone) other_to_vault[vault_to_other[i]] = i;

    std::vector<Entry>& added = slots.back().after;
    for (std::size_t j : absent) {
        const TreeNode& w = other[j];
        // A value's k-th node of a name meets the vault's k-th, unless that one is another's.
        const std::size_t vi = by_content[j] ? other_to_vault[j] : vault_index.find(w.name, other_index.occurrence(j));
        if (vi == kNone || claimed[vi]) {
            added.push_back(copy_of(w));
            continue;
        }
        claimed[vi] = true;
        // Other's value follows the last of the vault's nodes of that name, so that
        // those keep their order among themselves and a second merge matches alike.
        Entry twice;
        slots[vi].main = two_way_entry(vault[vi], w, vault, vault_values, &twice);
        const auto r = vault_index.range(w.name);
        if (twice.ours) slots[vault_index.at(r.second - 1)].after.push_back(twice);
    }
    return slots;
}

// A level still to be merged into `out`.
struct Job {
    bool three_way;
    const TreeNode* base;
    const TreeNode* ours;
    const TreeNode* theirs;
    TreeNode* out;
    std::size_t link;  // index into the names leading to `out` (kNone for the root)
};

struct Link {
    const std::string* name;
    std::size_t parent;
};

std::string path_of(const std::vector<Link>& links, std::size_t link, const std::string& last)
{
    std::size_t size = last.size();
    for (std::size_t l = link; l != kNone; l = links[l].parent) size += links[l].name->size() + 1;
    std::string path(size, ' ');
    std::size_t at = size - last.size();
    std::copy(last.begin(), last.end(), path.begin() + static_cast<std::ptrdiff_t>(at));
    for (std::size_t l = link; l != kNone; l = links[l].parent) {
        const std::string& name = *links[l].name;
        at -= name.size() + 1;
        std::copy(name.begin(), name.end(), path.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return path;
}

// What content matching may spend on the whole merge: a few times the nodes merged,
// and at least what one level may spend.
std::size_t merge_budget(const TreeNode& ours, const TreeNode& theirs)
{
    std::size_t nodes = 0;
    std::vector<const TreeNode*> pending{&ours, &theirs};
    while (!pending.empty()) {
        const TreeNode* n = pending.back();
        pending.pop_back();
        nodes += n->children.size();
        for (const TreeNode& child : n->children)
            if (!child.children.empty()) pending.push_back(&child);
    }
    return kLevelBudget + 16 * nodes;
}

TreeMerge run_merge(const TreeNode* base, const TreeNode& ours, const TreeNode& theirs)
{
    TreeMerge result;
    std::vector<Link> links;
    std::vector<Job> jobs;
    jobs.push_back({base != nullptr, base, &ours, &theirs, &result.merged, kNone});
    std::vector<Entry> entries;
    std::vector<Job> below;
    Budget budget(merge_budget(ours, theirs));
    while (!jobs.empty()) {
        const Job job = jobs.back();
        jobs.pop_back();
        if (!job.three_way) budget.start_level();
        std::vector<Slot> slots = job.three_way
            ? three_way_level(job.base->children, job.ours->children, job.theirs->children, &budget)
            : two_way_level(job.ours->children, job.theirs->children, &budget);
        entries.clear();
        for (Slot& slot : slots) {
            if (slot.has_main) entries.push_back(slot.main);
            if (slot.has_twice) entries.push_back(slot.twice);
            entries.insert(entries.end(), slot.after.begin(), slot.after.end());
        }
        std::vector<TreeNode>& children = job.out->children;
        children.reserve(entries.size());
        below.clear();
        for (const Entry& entry : entries) {
            switch (entry.kind) {
            case Entry::kCopy: children.push_back(*entry.ours); break;
            case Entry::kValue:
                children.emplace_back(entry.ours->name, entry.ours->content, true);
                result.kept_twice.push_back(path_of(links, job.link, entry.ours->name));
                break;
            case Entry::kThree:
            case Entry::kTwo:
                children.emplace_back(entry.ours->name, entry.value->content, entry.value->single_line);
                links.push_back({&entry.ours->name, job.link});
                below.push_back({entry.kind == Entry::kThree, entry.base, entry.ours, entry.theirs, &children.back(),
                                 links.size() - 1});
                break;
            }
        }
        // Pushed in reverse, so that the levels are merged in document order.
        jobs.insert(jobs.end(), below.rbegin(), below.rend());
    }
    return result;
}

}  // namespace

namespace {

void wipe_merge(TreeMerge& merge) noexcept
{
    wipe_tree(merge.merged);
    for (std::string& path : merge.kept_twice)
        if (!path.empty()) secure_wipe(&path[0], path.size());
    merge.kept_twice.clear();
}

}  // namespace

TreeMerge::~TreeMerge()
{
    wipe_merge(*this);
}

TreeMerge& TreeMerge::operator=(TreeMerge&& other) noexcept
{
    if (this != &other) {
        wipe_merge(*this);
        merged = std::move(other.merged);
        kept_twice = std::move(other.kept_twice);
    }
    return *this;
}

TreeMerge merge_three_way(const Tree& base, const Tree& ours, const Tree& theirs)
{
    // A side that changed nothing gives the other's document exactly, order and all
    // (the merge below follows ours' order where theirs reordered).
    if (ours == base || ours == theirs || theirs == base) {
        TreeMerge result;
        result.merged = ours == base ? theirs : ours;
        return result;
    }
    return run_merge(&base, ours, theirs);
}

TreeMerge merge_two_way(const Tree& vault, const Tree& other)
{
    return run_merge(nullptr, vault, other);
}

std::vector<std::size_t> match_siblings(const std::vector<TreeNode>& newer, const std::vector<TreeNode>& older)
{
    static_assert(kNone == kNoMatch, "one value for no match");
    Budget budget(kLevelBudget + 16 * (newer.size() + older.size()));
    budget.start_level();
    return match_with_base(newer, older, budget);
}
