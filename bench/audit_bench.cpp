// The password report: the strength of one password (goal: under 1 ms), the report
// of a 1,000-entry vault without a breach file (goal: under 1 s), and the breach
// lookup in a file of 10 million lines ordered by hash (goal: at most 4 reads per
// password on average), with the reads per password as a counter.

#include "audit/breach.h"
#include "audit/report.h"
#include "audit/strength.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

const char* const kPasswords[] = {
    "Password1!",
    "P@ssw0rd",
    "qwertyuiop",
    "19840512",
    "aaaaaaaaaaaa",
    "correcthorse",
    "dragon1984",
    "Tr0ub4dor&3",
    "kX9!vQ2-mL7?pR4=",
    "Gq7.Lw2+Rt9_Vb",
    "tablegardenwindowriverpencil",
    "hunter2",
    "1qaz2wsx",
    "Summer2023!",
    "Mbv7.Qe+z3!kLp9=Xc2_",
};

void BM_strength_per_password(benchmark::State& state)
{
    estimate_strength("warm up the lists");
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(estimate_strength(kPasswords[k]).log10_guesses);
        k = (k + 1) % (sizeof kPasswords / sizeof *kPasswords);
    }
}
BENCHMARK(BM_strength_per_password)->Unit(benchmark::kMicrosecond);

// Long inputs (goal: under 1 ms at 100 characters, under 10 ms at 10,000): random
// printable characters, and a repeat with a few characters between its runs.
std::string long_input(std::size_t length, bool repetitive)
{
    std::mt19937 rng(11);
    std::string text;
    while (text.size() < length) {
        if (repetitive && rng() % 50 == 0)
            text += std::string(rng() % 200, static_cast<char>('a' + rng() % 26));
        else
            text += static_cast<char>(0x21 + rng() % 94);
    }
    text.resize(length);
    return text;
}

void BM_strength_long(benchmark::State& state)
{
    estimate_strength("warm up the lists");
    const std::string text = long_input(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) benchmark::DoNotOptimize(estimate_strength(text).log10_guesses);
}
BENCHMARK(BM_strength_long)
    ->Args({100, 0})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Args({10000, 2})
    ->Unit(benchmark::kMillisecond);

// Building the word index, as the first estimate does (goal: under 50 ms).
void BM_word_index_build(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(build_strength_word_index());
}
BENCHMARK(BM_word_index_build)->Unit(benchmark::kMillisecond);

// 1,000 entries in 20 groups: user names, one password each (a tenth of them shared,
// some common, most random), notes.
std::string vault_of_1000()
{
    std::mt19937 rng(7);
    const char symbols[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!*+-.=?_";
    std::string text;
    for (int g = 0; g < 20; ++g) {
        text += "Group " + std::to_string(g) + "\r\n";
        for (int e = 0; e < 50; ++e) {
            const int n = g * 50 + e;
            std::string password;
            if (n % 10 == 0)
                password = "Shared" + std::to_string(n % 70) + "!";
            else if (n % 7 == 0)
                password = kPasswords[n % 15];
            else
                for (int c = 0; c < 16; ++c) password += symbols[rng() % (sizeof symbols - 1)];
            text += "\tsite " + std::to_string(n) + "\r\n\t\tuser: person" + std::to_string(n) +
                "@example.com\r\n\t\tpassword: " + password + "\r\n\t\turl: https://site" + std::to_string(n) +
                ".example.com\r\n\t\tnotes\r\n\t\t\tfirst line\r\n\t\t\tsecond line\r\n";
        }
    }
    return text;
}

void BM_report_1000_entries(benchmark::State& state)
{
    const Tree root = parse_tree(vault_of_1000());
    for (auto _ : state) {
        AuditReport report;
        std::string error;
        build_audit_report(root, root, nullptr, report, error);
        if (report.entries.size() != 1000) state.SkipWithError("wrong entry count");
        benchmark::DoNotOptimize(format_audit_report(report));
    }
}
BENCHMARK(BM_report_1000_entries)->Unit(benchmark::kMillisecond);

// A file of 10 million lines ordered by hash, made once: random hashes (SHA-1's
// are spread uniformly), sorted, with random counts.
constexpr std::uint64_t kLines = 10'000'000;

struct BreachFixture {
    std::string path;
    std::vector<std::array<std::uint8_t, 20>> present;  // every 10,007th line

    BreachFixture()
    {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/glimkeep-bench-pwned.txt";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) return;
        std::mt19937_64 rng(42);
        std::vector<std::uint64_t> tops(kLines);
        for (std::uint64_t& top : tops) top = rng();
        std::sort(tops.begin(), tops.end());
        static const char kHex[] = "0123456789ABCDEF";
        std::string chunk;
        for (std::uint64_t k = 0; k < kLines; ++k) {
            std::array<std::uint8_t, 20> hash;
            const std::uint64_t top = tops[k];
            for (int b = 0; b < 8; ++b) hash[b] = static_cast<std::uint8_t>(top >> (56 - 8 * b));
            for (int b = 8; b < 20; ++b) hash[b] = static_cast<std::uint8_t>(rng());
            if (k % 10007 == 0) present.push_back(hash);
            for (std::uint8_t byte : hash) {
                chunk += kHex[byte >> 4];
                chunk += kHex[byte & 15];
            }
            chunk += ":" + std::to_string(1 + rng() % 5000) + "\r\n";
            if (chunk.size() > (1 << 20)) {
                std::fwrite(chunk.data(), 1, chunk.size(), file);
                chunk.clear();
            }
        }
        std::fwrite(chunk.data(), 1, chunk.size(), file);
        std::fclose(file);
    }
    ~BreachFixture() { std::remove(path.c_str()); }
};

// 1,000 passwords a round: half of them in the file, half not.
void BM_breach_lookup_1000_in_10M_lines(benchmark::State& state)
{
    static BreachFixture fixture;
    BreachCorpus corpus;
    std::string error;
    if (corpus.open(fixture.path, error) != BreachStatus::kOk) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::uint64_t lookups = 0;
    for (auto _ : state) {
        for (int k = 0; k < 1000; ++k) {
            std::uint64_t count = 0;
            BreachStatus status;
            if (k % 2 == 0)
                status = corpus.count_digest(fixture.present[k % fixture.present.size()].data(), count, error);
            else
                status = corpus.count("not breached " + std::to_string(k), count, error);
            if (status != BreachStatus::kOk || (k % 2 == 0) != (count != 0)) state.SkipWithError("wrong answer");
        }
        lookups += 1000;
    }
    state.counters["reads_per_password"] = static_cast<double>(corpus.reads()) / static_cast<double>(lookups);
}
BENCHMARK(BM_breach_lookup_1000_in_10M_lines)->Unit(benchmark::kMillisecond);

}  // namespace
