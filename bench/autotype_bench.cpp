// The picker's matching: every entry of a 1 MiB vault against a window title of
// 1,024 characters (the most a title is read), and against a title of 200,000
// characters, of which the same 1,024 are read.

#include "autotype/matching.h"
#include "tree/tree.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

// Groups of entries as people keep them for auto-type: a user name, a password,
// an address, some with one or two `window:` patterns, some with notes.
std::string auto_type_vault(std::size_t bytes)
{
    static const char* const kSites[] = {"bank",  "mail",   "shop",  "Bücher", "café",   "forum",  "wiki",
                                         "cloud", "router", "Почта", "東京",   "travel", "school", "insurance"};
    std::mt19937 rng(38);
    const auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    std::string out;
    for (std::size_t group = 0; out.size() < bytes; ++group) {
        out += "Group " + std::to_string(group) + "\n";
        for (std::size_t e = 0; e < 40 && out.size() < bytes; ++e) {
            const std::string site = kSites[below(std::size(kSites))];
            const std::string name = site + " " + std::to_string(below(10000));
            out += "\t" + name + "\n";
            out += "\t\tuser: someone" + std::to_string(below(1000)) + "@example.org\n";
            out += "\t\tpassword: " + std::to_string(rng()) + "x" + std::to_string(rng()) + "\n";
            out += "\t\turl: https://www." + site + std::to_string(below(100)) + ".example/login?next=/home\n";
            const std::size_t patterns = below(3);
            for (std::size_t p = 0; p < patterns; ++p)
                out += "\t\twindow: *" + name + "*" + (p ? " - Sign in*" : "") + "\n";
            if (below(4) == 0) out += "\t\tnotes\n\t\t\tsecurity questions, first pet and the like.\n";
        }
    }
    return out;
}

const Tree& vault_1mib()
{
    static const Tree tree = parse_tree(auto_type_vault(std::size_t{1} << 20));
    return tree;
}

// A browser's title: a long page title that names no entry (every pattern is
// tried to its end), cut by the browser's name.
std::string title_of(std::size_t characters)
{
    std::string title;
    while (title.size() < characters) title += "Sign in to your account - overview of settings and orders | ";
    title.resize(characters - 18);
    return title + " - Mozilla Firefox";
}

void BM_AutoTypeMatchTitle1MiB(benchmark::State& state)
{
    const Tree& root = vault_1mib();
    const std::string title = title_of(static_cast<std::size_t>(state.range(0)));
    std::size_t rows = 0;
    for (auto _ : state) {
        const TitleMatches matches = match_title(root, title);
        rows = matches.rows.size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["entries"] = static_cast<double>(all_candidates(root).size());
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_AutoTypeMatchTitle1MiB)->Arg(1024)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace
