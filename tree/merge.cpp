#include "tree/merge.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <utility>

#include "crypto/wipe.h"

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

// Matches the nodes of `a` with those of `b` by name, keeping the order on both
// sides and matching as many as can be (a longest common subsequence of the names,
// by Hunt and Szymanski: a binary search per pair of equal names). When names repeat
// so much that the pairs would cost too much, the k-th node of a name matches the
// k-th of that name. Returns for each node of `a` its match in `b`, or kNone.
std::vector<std::size_t> match_in_order(const std::vector<TreeNode>& a, const NameIndex& a_index,
                                        const std::vector<TreeNode>& b, const NameIndex& b_index)
{
    std::vector<std::size_t> a_to_b(a.size(), kNone);
    std::size_t pairs = 0;
    for (const TreeNode& node : a) {
        const auto r = b_index.range(node.name);
        pairs += r.second - r.first;
    }
    if (pairs > 16 * (a.size() + b.size()) + 65536) {
        for (std::size_t i = 0; i < a.size(); ++i) a_to_b[i] = b_index.find(a[i].name, a_index.occurrence(i));
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
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto r = b_index.range(a[i].name);
        for (std::size_t p = r.second; p-- > r.first;) {
            const std::size_t j = b_index.at(p);
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
                    const NameIndex& index, Entry* twice)
{
    Entry entry;
    entry.kind = Entry::kTwo;
    entry.ours = &vault;
    entry.theirs = &other;
    entry.value = vault.single_line || !other.single_line ? &vault : &other;
    if (twice && vault.single_line && other.single_line && vault.content != other.content) {
        bool held = false;
        const auto r = index.range(vault.name);
        for (std::size_t p = r.first; p < r.second && !held; ++p) held = same_value(siblings[index.at(p)], other);
        if (!held) *twice = value_of(other);
    }
    return entry;
}

// The three-way decision for one level.
std::vector<Slot> three_way_level(const std::vector<TreeNode>& base, const std::vector<TreeNode>& ours,
                                  const std::vector<TreeNode>& theirs)
{
    const NameIndex base_index(base);
    const NameIndex ours_index(ours);
    const NameIndex theirs_index(theirs);
    const std::vector<std::size_t> ours_to_base = match_in_order(ours, ours_index, base, base_index);
    const std::vector<std::size_t> theirs_to_base = match_in_order(theirs, theirs_index, base, base_index);
    std::vector<std::size_t> base_to_theirs(base.size(), kNone);
    for (std::size_t j = 0; j < theirs.size(); ++j)
        if (theirs_to_base[j] != kNone) base_to_theirs[theirs_to_base[j]] = j;

    // Nodes added on both sides meet by name, the k-th with the k-th.
    std::vector<std::size_t> ours_added;
    std::vector<std::size_t> theirs_added;
    for (std::size_t i = 0; i < ours.size(); ++i)
        if (ours_to_base[i] == kNone) ours_added.push_back(i);
    for (std::size_t j = 0; j < theirs.size(); ++j)
        if (theirs_to_base[j] == kNone) theirs_added.push_back(j);
    const NameIndex ours_added_index(ours, std::move(ours_added));
    const NameIndex theirs_added_index(theirs, std::move(theirs_added));

    std::vector<Slot> slots(1);  // slots[0] stands before the first node
    std::vector<std::size_t> theirs_slot(theirs.size(), kNone);
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const TreeNode& o = ours[i];
        const std::size_t bi = ours_to_base[i];
        const std::size_t ti =
            bi != kNone ? base_to_theirs[bi] : theirs_added_index.find(o.name, ours_added_index.occurrence(i));
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
                slot.main = two_way_entry(o, t, ours, ours_index, &slot.twice);
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
std::vector<Slot> two_way_level(const std::vector<TreeNode>& vault, const std::vector<TreeNode>& other)
{
    const NameIndex vault_index(vault);
    std::vector<Slot> slots(vault.size() + 1);
    for (std::size_t i = 0; i < vault.size(); ++i) {
        slots[i].main = copy_of(vault[i]);
        slots[i].has_main = true;
    }

    // A node equal to one of the vault's is present, and claims that node (the first
    // one not yet claimed) so that no other node of `other` merges into it.
    std::vector<bool> claimed(vault.size(), false);
    std::vector<std::size_t> absent;
    for (std::size_t j = 0; j < other.size(); ++j) {
        const TreeNode& w = other[j];
        const auto r = vault_index.range(w.name);
        bool present = false;
        for (std::size_t p = r.first; p < r.second; ++p) {
            const std::size_t vi = vault_index.at(p);
            const TreeNode& v = vault[vi];
            if (!same_value(v, w) || v.children.size() != w.children.size() || v != w) continue;
            present = true;
            if (!claimed[vi]) {
                claimed[vi] = true;
                break;
            }
        }
        if (!present) absent.push_back(j);
    }
    const NameIndex other_index(other);

    std::vector<Entry>& added = slots.back().after;
    for (std::size_t j : absent) {
        const TreeNode& w = other[j];
        // The k-th node of a name meets the vault's k-th, unless that one is another's.
        const std::size_t vi = vault_index.find(w.name, other_index.occurrence(j));
        if (vi == kNone || claimed[vi]) {
            added.push_back(copy_of(w));
            continue;
        }
        // Other's value follows the last of the vault's nodes of that name, so that
        // those keep their order among themselves and a second merge matches alike.
        Entry twice;
        slots[vi].main = two_way_entry(vault[vi], w, vault, vault_index, &twice);
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

TreeMerge run_merge(const TreeNode* base, const TreeNode& ours, const TreeNode& theirs)
{
    TreeMerge result;
    std::vector<Link> links;
    std::vector<Job> jobs;
    jobs.push_back({base != nullptr, base, &ours, &theirs, &result.merged, kNone});
    std::vector<Entry> entries;
    std::vector<Job> below;
    while (!jobs.empty()) {
        const Job job = jobs.back();
        jobs.pop_back();
        std::vector<Slot> slots = job.three_way
            ? three_way_level(job.base->children, job.ours->children, job.theirs->children)
            : two_way_level(job.ours->children, job.theirs->children);
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
    return run_merge(&base, ours, theirs);
}

TreeMerge merge_two_way(const Tree& vault, const Tree& other)
{
    return run_merge(nullptr, vault, other);
}
