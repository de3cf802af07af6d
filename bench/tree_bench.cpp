// The text tree on a realistic vault: thousands of entries under a few dozen
// groups, nested two to four levels, single-line values and multi-line notes,
// UTF-8 throughout. Measures parsing and writing 10 MiB, lookups and completions
// on it, and the editor's filter keystroke on a 1 MiB vault (store the shown
// root's text, look the filter up, write the node found).

#include "tree/merge.h"
#include "tree/tree.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

class VaultWriter {
public:
    explicit VaultWriter(std::uint32_t seed) : rng_(seed) {}

    std::string vault(std::size_t bytes)
    {
        std::string out;
        out.reserve(bytes + 4096);
        for (int group = 0; out.size() < bytes; ++group) {
            out += pick(kGroups) + " " + std::to_string(group) + "\r\n";
            const std::size_t entries = 20 + below(60);
            for (std::size_t e = 0; e < entries && out.size() < bytes; ++e) entry(out, 1);
        }
        return out;
    }

private:
    static constexpr const char* kGroups[] = {"Email",         "Banking",    "Work",   "Shopping", "Social",
                                              "Travel",        "Gaming",     "Bücher", "Café",     "Versicherung",
                                              "Développement", "Gesundheit", "Почта",  "家族",     "Streaming"};
    static constexpr const char* kWords[] = {"alpha",  "Bravo", "charlie",   "Delta",  "echo",   "Foxtrot", "gmail",
                                             "gmx",    "konto", "Übersicht", "naïve",  "résumé", "straße",  "Zürich",
                                             "пароль", "東京",  "server",    "router", "backup", "admin"};
    static constexpr const char* kKeys[] = {"user",    "password", "url",      "pin", "email",
                                            "account", "iban",     "recovery", "2fa", "phone"};

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    template <std::size_t N>
    std::string pick(const char* const (&list)[N])
    {
        return list[below(N)];
    }

    std::string sentence(std::size_t words)
    {
        std::string s;
        for (std::size_t i = 0; i < words; ++i) {
            if (i) s += ' ';
            s += pick(kWords);
        }
        return s;
    }

    std::string secret()
    {
        static const char chars[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789!#%&*+-=?@^_";
        std::string s;
        const std::size_t n = 12 + below(20);
        for (std::size_t i = 0; i < n; ++i) s += chars[below(sizeof chars - 1)];
        return s;
    }

    void line(std::string& out, std::size_t level, const std::string& text)
    {
        out.append(level, '\t');
        out += text;
        out += "\r\n";
    }

    // An entry with single-line values, sometimes a multi-line note, sometimes
    // sub-entries one level deeper (down to level 3).
    void entry(std::string& out, std::size_t level)
    {
        line(out, level, pick(kWords) + " " + std::to_string(below(1000)));
        const std::size_t values = 2 + below(4);
        for (std::size_t v = 0; v < values; ++v) {
            const std::string key = pick(kKeys);
            const std::string value = key == "url" ? "https://" + pick(kWords) + ".example.org/login?next=/home"
                : key == "password"                ? secret()
                                                   : sentence(1 + below(3));
            line(out, level + 1, key + ": " + value);
        }
        if (below(3) == 0) {
            line(out, level + 1, "notes");
            const std::size_t lines = 1 + below(6);
            for (std::size_t i = 0; i < lines; ++i) line(out, level + 2, sentence(3 + below(10)) + ".");
        }
        if (level < 3 && below(4) == 0) {
            const std::size_t subs = 1 + below(3);
            for (std::size_t s = 0; s < subs; ++s) entry(out, level + 1);
        }
    }

    std::mt19937 rng_;
};

const std::string& vault_10mib()
{
    static const std::string text = VaultWriter(2026).vault(std::size_t{10} << 20);
    return text;
}

const std::string& vault_1mib()
{
    static const std::string text = VaultWriter(1208).vault(std::size_t{1} << 20);
    return text;
}

// Paths of every node of the tree, in tree order, without recursion.
std::vector<std::string> all_paths(const Tree& tree)
{
    std::vector<std::string> paths;
    std::vector<std::pair<const TreeNode*, std::string>> stack{{&tree, std::string()}};
    while (!stack.empty()) {
        auto [n, path] = std::move(stack.back());
        stack.pop_back();
        for (const TreeNode& child : n->children) {
            std::string p = path.empty() && n == &tree ? child.name : path + " " + child.name;
            paths.push_back(p);
            stack.emplace_back(&child, std::move(p));
        }
    }
    return paths;
}

// A spread of paths: every n-th of all.
std::vector<std::string> sample_paths(const Tree& tree, std::size_t count)
{
    const std::vector<std::string> paths = all_paths(tree);
    std::vector<std::string> out;
    const std::size_t step = paths.size() / count + 1;
    for (std::size_t i = 0; i < paths.size(); i += step) out.push_back(paths[i]);
    return out;
}

// Parsing alone: the tree of each round is freed with the clock stopped.
void BM_TreeParse10MiB(benchmark::State& state)
{
    const std::string& text = vault_10mib();
    for (auto _ : state) {
        Tree tree = parse_tree(text);
        benchmark::DoNotOptimize(tree.children.data());
        state.PauseTiming();
        tree = Tree();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["nodes"] = static_cast<double>(all_paths(parse_tree(text)).size());
}
BENCHMARK(BM_TreeParse10MiB)->Unit(benchmark::kMillisecond);

// Parsing and freeing the result, as when the editor replaces its tree (and, for
// 1 MiB, beside the merges of the same text).
void BM_TreeParseAndFree(benchmark::State& state, const std::string& (*text_of)())
{
    const std::string& text = text_of();
    for (auto _ : state) {
        Tree tree = parse_tree(text);
        benchmark::DoNotOptimize(tree.children.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK_CAPTURE(BM_TreeParseAndFree, 10MiB, vault_10mib)->Unit(benchmark::kMillisecond);

void BM_TreeSerialize10MiB(benchmark::State& state)
{
    const Tree tree = parse_tree(vault_10mib());
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string text = tree.serialize("\r\n", 0);
        size = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_TreeSerialize10MiB)->Unit(benchmark::kMillisecond);

void BM_TreeCopyAndFree10MiB(benchmark::State& state)
{
    const Tree tree = parse_tree(vault_10mib());
    for (auto _ : state) {
        Tree copy(tree);
        benchmark::DoNotOptimize(copy.children.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * vault_10mib().size()));
}
BENCHMARK(BM_TreeCopyAndFree10MiB)->Unit(benchmark::kMillisecond);

// One lookup per iteration, cycling through paths spread over the whole vault, in
// the typed letter case and in upper case.
void BM_TreeFind10MiB(benchmark::State& state)
{
    Tree tree = parse_tree(vault_10mib());
    std::vector<std::string> paths = sample_paths(tree, 1000);
    const std::size_t n = paths.size();
    for (std::size_t i = 0; i < n; ++i) {
        std::string upper = paths[i];
        for (char& c : upper)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        paths.push_back(upper);
    }
    std::size_t i = 0;
    std::size_t found = 0;
    for (auto _ : state) {
        const TreeNode* node = tree.find(paths[i]);
        found += node != nullptr;
        benchmark::DoNotOptimize(node);
        if (++i == paths.size()) i = 0;
    }
    if (found == 0) state.SkipWithError("no path was found");
}
BENCHMARK(BM_TreeFind10MiB)->Unit(benchmark::kMicrosecond);

// One Tab per iteration: partial last names below real paths, and the first
// letters of top-level names (many candidates).
void BM_TreeComplete10MiB(benchmark::State& state)
{
    const Tree tree = parse_tree(vault_10mib());
    std::vector<std::string> queries;
    for (const std::string& path : sample_paths(tree, 1000)) {
        const std::size_t cut = path.rfind(' ');
        const std::size_t keep = cut == std::string::npos ? 2 : cut + 3;
        queries.push_back(path.substr(0, std::min(keep, path.size())));
    }
    queries.push_back("E");
    queries.push_back("b");
    std::size_t i = 0;
    std::size_t offered = 0;
    for (auto _ : state) {
        const std::string answer = tree.complete(queries[i]);
        offered += !answer.empty();
        benchmark::DoNotOptimize(answer.data());
        if (++i == queries.size()) i = 0;
    }
    if (offered == 0) state.SkipWithError("nothing was offered");
}
BENCHMARK(BM_TreeComplete10MiB)->Unit(benchmark::kMicrosecond);

// The editor's work on every change of the filter text with the root shown: the
// editor box holds the root's text, which goes back into the root; the filter is
// looked up; the node found is written for the editor box.
void BM_TreeFilterKeystroke1MiB(benchmark::State& state)
{
    Tree root_node = parse_tree(vault_1mib());
    const std::string editor_text = root_node.serialize("\r\n", 0);
    const std::vector<std::string> filters = sample_paths(root_node, 50);
    std::size_t i = 0;
    for (auto _ : state) {
        root_node.set_children_from_text(editor_text);
        const TreeNode* shown = root_node.find(filters[i]);
        std::string shown_text;
        if (shown) shown_text = shown->single_line ? shown->content : shown->serialize("\r\n", 0);
        benchmark::DoNotOptimize(shown_text.data());
        if (++i == filters.size()) i = 0;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * editor_text.size()));
}
BENCHMARK(BM_TreeFilterKeystroke1MiB)->Unit(benchmark::kMillisecond);

// A keystroke that shows the root itself (empty filter): the whole vault is
// written back into the editor box as well.
void BM_TreeFilterKeystrokeShowRoot1MiB(benchmark::State& state)
{
    Tree root_node = parse_tree(vault_1mib());
    const std::string editor_text = root_node.serialize("\r\n", 0);
    for (auto _ : state) {
        root_node.set_children_from_text(editor_text);
        const TreeNode* shown = root_node.find("");
        const std::string shown_text = shown->serialize("\r\n", 0);
        benchmark::DoNotOptimize(shown_text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * editor_text.size()));
}
BENCHMARK(BM_TreeFilterKeystrokeShowRoot1MiB)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Merging: a 1 MiB vault changed on two sides, a few hundred changes each (values
// changed, entries added and deleted), merged three ways; beside it, the parse of
// the same text.

// Every `step`-th entry of every group: its first value changed; every 7th such
// entry deleted instead, every 5th gets a new sibling after it.
Tree edited(const Tree& base, std::size_t step, std::size_t offset, const std::string& mark, std::size_t& n)
{
    Tree out = base;
    n = 0;
    for (TreeNode& group : out.children) {
        std::vector<TreeNode> kept;
        for (std::size_t i = 0; i < group.children.size(); ++i) {
            TreeNode& entry = group.children[i];
            if ((i + offset) % step != 0) {
                kept.push_back(std::move(entry));
                continue;
            }
            ++n;
            if (n % 7 == 0) continue;
            if (!entry.children.empty()) entry.children[0].set_content(mark + std::to_string(n));
            kept.push_back(std::move(entry));
            if (n % 5 == 0) kept.emplace_back(mark + " new " + std::to_string(n), "x", true);
        }
        group.children = std::move(kept);
    }
    return out;
}

BENCHMARK_CAPTURE(BM_TreeParseAndFree, 1MiB, vault_1mib)->Unit(benchmark::kMillisecond);

void BM_TreeMergeThreeWay1MiB(benchmark::State& state)
{
    const Tree base = parse_tree(vault_1mib());
    std::size_t ours_changes = 0;
    std::size_t theirs_changes = 0;
    const Tree ours = edited(base, 31, 0, "ours", ours_changes);
    const Tree theirs = edited(base, 29, 3, "theirs", theirs_changes);
    for (auto _ : state) {
        TreeMerge result = merge_three_way(base, ours, theirs);
        benchmark::DoNotOptimize(result.merged.children.data());
    }
    state.counters["ours_changes"] = static_cast<double>(ours_changes);
    state.counters["theirs_changes"] = static_cast<double>(theirs_changes);
}
BENCHMARK(BM_TreeMergeThreeWay1MiB)->Unit(benchmark::kMillisecond);

void BM_TreeMergeTwoWay1MiB(benchmark::State& state)
{
    const Tree base = parse_tree(vault_1mib());
    std::size_t changes = 0;
    const Tree ours = edited(base, 31, 0, "ours", changes);
    const Tree theirs = edited(base, 29, 3, "theirs", changes);
    for (auto _ : state) {
        TreeMerge result = merge_two_way(ours, theirs);
        benchmark::DoNotOptimize(result.merged.children.data());
    }
}
BENCHMARK(BM_TreeMergeTwoWay1MiB)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// One level of `entries` entries of one name, each with its own user and a shared
// address.
std::string same_name_entries(int entries)
{
    std::string out;
    for (int n = 0; n < entries; ++n) {
        out += "Google\r\n\tuser: user" + std::to_string(n) + "@example.org\r\n";
        out += "\tpassword: pw" + std::to_string(n * 7919 % 100003) + "\r\n";
        out += "\turl: https://accounts.google.com/\r\n";
    }
    return out;
}

template <int Entries>
const std::string& same_name_level()
{
    static const std::string text = same_name_entries(Entries);
    return text;
}

// 2,000 of them, changed once on each side (a password on ours, another entry's on
// theirs); beside it, the parse of the same text.
BENCHMARK_CAPTURE(BM_TreeParseAndFree, SameNameLevel, same_name_level<2000>)->Unit(benchmark::kMillisecond);

void BM_TreeMergeThreeWaySameNameLevel(benchmark::State& state)
{
    const Tree base = parse_tree(same_name_level<2000>());
    Tree ours = base;
    Tree theirs = base;
    ours.children[700].children[1].set_content("changed on ours");
    theirs.children[1300].children[1].set_content("changed on theirs");
    for (auto _ : state) {
        TreeMerge result = merge_three_way(base, ours, theirs);
        benchmark::DoNotOptimize(result.merged.children.data());
    }
}
BENCHMARK(BM_TreeMergeThreeWaySameNameLevel)->Unit(benchmark::kMillisecond);

// 20,000 of them: two-way with every password changed, and three-way with a few
// hundred changes on each side (passwords changed, entries deleted, entries added);
// beside them, the parse of the same text.
constexpr auto large_same_name_level = same_name_level<20000>;

BENCHMARK_CAPTURE(BM_TreeParseAndFree, LargeSameNameLevel, large_same_name_level)->Unit(benchmark::kMillisecond);

void BM_TreeMergeTwoWayLargeSameNameLevel(benchmark::State& state)
{
    const Tree vault = parse_tree(large_same_name_level());
    Tree other = vault;
    for (TreeNode& entry : other.children) entry.children[1].set_content(entry.children[1].content + "-new");
    for (auto _ : state) {
        TreeMerge result = merge_two_way(vault, other);
        benchmark::DoNotOptimize(result.merged.children.data());
    }
}
BENCHMARK(BM_TreeMergeTwoWayLargeSameNameLevel)->Unit(benchmark::kMillisecond);

TreeNode node_with_user(const std::string& name, const std::string& user, const std::string& password)
{
    TreeNode entry(name, std::string(), false);
    entry.children.emplace_back("user", user, true);
    entry.children.emplace_back("password", password, true);
    return entry;
}

// Every `step`-th entry from `offset` on: its password changed; every 7th such
// entry deleted instead, and every 5th gets a new entry of the name after it.
Tree level_edited(const Tree& base, std::size_t step, std::size_t offset, const std::string& mark)
{
    Tree out;
    for (std::size_t i = 0; i < base.children.size(); ++i) {
        out.children.push_back(base.children[i]);
        if ((i + offset) % step != 0) continue;
        const std::size_t n = (i + offset) / step;
        if (n % 7 == 0) {
            out.children.pop_back();
            continue;
        }
        out.children.back().children[1].set_content(mark + std::to_string(n));
        if (n % 5 == 0) out.children.push_back(node_with_user("Google", mark + " user " + std::to_string(n), mark));
    }
    return out;
}

void BM_TreeMergeThreeWayLargeSameNameLevel(benchmark::State& state)
{
    const Tree base = parse_tree(large_same_name_level());
    const Tree ours = level_edited(base, 61, 0, "ours");
    const Tree theirs = level_edited(base, 59, 3, "theirs");
    for (auto _ : state) {
        TreeMerge result = merge_three_way(base, ours, theirs);
        benchmark::DoNotOptimize(result.merged.children.data());
    }
}
BENCHMARK(BM_TreeMergeThreeWayLargeSameNameLevel)->Unit(benchmark::kMillisecond);

}  // namespace
