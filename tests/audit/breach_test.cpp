// The breach lookup over generated corpora of both shapes: every line found (the
// first and last too), hashes between lines and beyond the ends not found, few reads,
// and files of the wrong order or shape refused with a message naming the order.

#include "audit/breach.h"

#include "crypto/sha1.h"
#include "tests/support/files.h"
#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

using Digest = std::array<std::uint8_t, kSha1DigestSize>;

std::string upper_hex(const Digest& d)
{
    std::string hex = to_hex(d.data(), d.size());
    std::transform(hex.begin(), hex.end(), hex.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
    return hex;
}

Digest digest_of(const std::string& text)
{
    Digest d;
    sha1(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), d.data());
    return d;
}

// The corpus: SHA-1 of "password<k>" with count k + 1, for k < lines.
struct Corpus {
    std::vector<std::pair<Digest, std::uint64_t>> rows;

    explicit Corpus(int lines)
    {
        for (int k = 0; k < lines; ++k) rows.push_back({digest_of("password" + std::to_string(k)), k + 1});
        std::sort(rows.begin(), rows.end());
    }

    std::string by_hash(const char* line_end) const
    {
        std::string text;
        for (const auto& [d, count] : rows) text += upper_hex(d) + ":" + std::to_string(count) + line_end;
        return text;
    }

    std::string by_count() const
    {
        auto sorted = rows;
        std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        std::string text;
        for (const auto& [d, count] : sorted) text += upper_hex(d) + ":" + std::to_string(count) + "\r\n";
        return text;
    }

    void write_folder(const std::string& folder) const
    {
        std::vector<std::pair<std::string, std::string>> files;
        for (const auto& [d, count] : rows) {
            const std::string hex = upper_hex(d);
            std::string& text = [&]() -> std::string& {
                for (auto& f : files)
                    if (f.first == hex.substr(0, 5)) return f.second;
                files.push_back({hex.substr(0, 5), ""});
                return files.back().second;
            }();
            text += hex.substr(5) + ":" + std::to_string(count) + "\r\n";
        }
        for (const auto& [prefix, text] : files) write_file(folder + "/" + prefix + ".txt", text);
    }
};

// A digest just above `d` (its last byte plus one).
Digest next_of(Digest d)
{
    for (int k = kSha1DigestSize - 1; k >= 0 && ++d[k] == 0; --k) {}
    return d;
}

std::uint64_t lookup(BreachCorpus& corpus, const Digest& d)
{
    std::uint64_t count = 99;
    std::string error;
    EXPECT_EQ(corpus.count_digest(d.data(), count, error), BreachStatus::kOk) << error;
    return count;
}

}  // namespace

TEST(BreachFile, FindsEveryLineAndNothingBetween)
{
    TempDir dir;
    const Corpus corpus(2000);
    for (const char* line_end : {"\r\n", "\n"}) {
        std::string text = corpus.by_hash(line_end);
        // The last line may lack its line end.
        if (std::string(line_end) == "\n") text.pop_back();
        write_file(dir.file("pwned.txt"), text);
        BreachCorpus file;
        std::string error;
        ASSERT_EQ(file.open(dir.file("pwned.txt"), error), BreachStatus::kOk) << error;
        for (std::size_t k = 0; k < corpus.rows.size(); ++k) {
            const auto& [d, count] = corpus.rows[k];
            ASSERT_EQ(lookup(file, d), count) << "line " << k;
            const Digest between = next_of(d);
            if (k + 1 < corpus.rows.size() && between != corpus.rows[k + 1].first) {
                ASSERT_EQ(lookup(file, between), 0u) << "after line " << k;
            }
        }
        EXPECT_EQ(lookup(file, Digest{}), 0u);  // before the first line
        Digest top;
        top.fill(0xFF);
        EXPECT_EQ(lookup(file, top), 0u);  // after the last
        // By password: "password42" is on a line of its own.
        std::uint64_t count = 0;
        ASSERT_EQ(file.count("password42", count, error), BreachStatus::kOk);
        EXPECT_EQ(count, 43u);
        ASSERT_EQ(file.count("not in the corpus", count, error), BreachStatus::kOk);
        EXPECT_EQ(count, 0u);
        // Hashes are spread evenly: the search guesses the place and reads little.
        EXPECT_LE(file.reads(), 2 * 2 * corpus.rows.size() + 8) << "reads for " << 2 * corpus.rows.size();
    }
}

TEST(BreachFile, WrongOrderOrShapeRefused)
{
    TempDir dir;
    const Corpus corpus(2000);
    const std::string good = corpus.by_hash("\r\n");
    struct Case {
        const char* what;
        std::string text;
        const char* message;  // a part of the error
    };
    Corpus disordered = corpus;  // two lines in the middle exchanged
    std::swap(disordered.rows[1000], disordered.rows[1001]);
    const Case cases[] = {
        {"ordered by count", corpus.by_count(), "is not ordered by hash"},
        {"empty", "", "lines other than HASH:COUNT"},
        {"hashes only", "0000000000000000000000000000000000000001\r\n", "lines other than HASH:COUNT"},
        {"a prefix file", good.substr(5), "lines other than HASH:COUNT"},
        {"a count too large", "0000000000000000000000000000000000000001:99999999999999999999999\r\n",
         "lines other than HASH:COUNT"},
        {"text", "This is not a breach file.\nNot at all.\n", "lines other than HASH:COUNT"},
    };
    for (const Case& c : cases) {
        write_file(dir.file("pwned.txt"), c.text);
        BreachCorpus file;
        std::string error;
        EXPECT_EQ(file.open(dir.file("pwned.txt"), error), BreachStatus::kWrongShape) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
        EXPECT_NE(error.find("ordered by hash"), std::string::npos) << c.what << ": " << error;
        EXPECT_FALSE(file.is_open()) << c.what;
    }
    // Disorder that the checks at open do not see (between the windows they read of a
    // larger file) is caught where the search meets it.
    const Corpus large(20000);
    disordered = large;
    std::swap(disordered.rows[10000], disordered.rows[10001]);
    write_file(dir.file("pwned.txt"), disordered.by_hash("\r\n"));
    BreachCorpus file;
    std::string error;
    ASSERT_EQ(file.open(dir.file("pwned.txt"), error), BreachStatus::kOk) << error;
    BreachStatus worst = BreachStatus::kOk;
    for (const auto& [d, count] : large.rows) {
        std::uint64_t found = 0;
        const BreachStatus status = file.count_digest(d.data(), found, error);
        if (status != BreachStatus::kOk)
            worst = status;
        else
            EXPECT_TRUE(found == count) << "a wrong count instead of a refusal";
    }
    EXPECT_EQ(worst, BreachStatus::kWrongShape);
    EXPECT_NE(error.find("is not ordered by hash"), std::string::npos) << error;

    EXPECT_EQ(file.open(dir.file("missing.txt"), error), BreachStatus::kCannotRead);
    EXPECT_NE(error.find("missing.txt"), std::string::npos) << error;
}

// Files that a quick look at a few lines passed: an update concatenated onto the
// file, two ordered files interleaved in blocks, and the correct file, each opened
// (the check of head, tail and windows) and read whole (verify_breach_file).
TEST(BreachFile, ConcatenatedAndInterleavedFilesRefused)
{
    TempDir dir;
    const Corpus base(20000);
    Corpus update(1000);
    for (auto& row : update.rows) row.first = digest_of(upper_hex(row.first));
    std::sort(update.rows.begin(), update.rows.end());
    // Blocks of 600 lines (some 27 KB) from two ordered files in turn: a window reads
    // ordered lines or one junction, and the head already holds one.
    std::string interleaved;
    {
        const Corpus other(20000);
        for (std::size_t at = 0; at < base.rows.size(); at += 600)
            for (const Corpus* from : {&base, &other})
                for (std::size_t k = at; k < at + 600 && k < from->rows.size(); ++k)
                    interleaved += upper_hex(from->rows[k].first) + ":" + std::to_string(from->rows[k].second) + "\n";
    }
    struct Case {
        const char* what;
        std::string text;
        bool opens;
        std::uint64_t verified_lines;  // good lines before the first bad one
    };
    const Case cases[] = {
        {"correct", base.by_hash("\r\n"), true, 20000},
        {"1,000 sorted lines appended", base.by_hash("\n") + update.by_hash("\n"), false, 20000},
        {"1,000 sorted lines before", update.by_hash("\n") + base.by_hash("\n"), false, 1000},
        {"interleaved in blocks", interleaved, false, 600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(dir.file("pwned.txt"), c.text);
        BreachCorpus file;
        std::string error;
        const BreachStatus status = file.open(dir.file("pwned.txt"), error);
        EXPECT_EQ(status, c.opens ? BreachStatus::kOk : BreachStatus::kWrongShape) << error;
        if (!c.opens) {
            EXPECT_NE(error.find("is not ordered by hash"), std::string::npos) << error;
        }
        std::uint64_t lines = 0;
        std::uint64_t last_done = 0;
        int calls = 0;
        const BreachProgress progress = [&](std::uint64_t done, std::uint64_t size) {
            EXPECT_EQ(size, c.text.size());
            EXPECT_GE(done, last_done);
            last_done = done;
            ++calls;
        };
        error.clear();
        const BreachStatus verified = verify_breach_file(dir.file("pwned.txt"), progress, lines, error);
        EXPECT_EQ(verified, c.opens ? BreachStatus::kOk : BreachStatus::kWrongShape) << error;
        EXPECT_EQ(lines, c.verified_lines);
        if (c.opens) {
            EXPECT_EQ(last_done, c.text.size());
            EXPECT_GE(calls, 1);
        } else {
            EXPECT_NE(error.find("line " + std::to_string(c.verified_lines + 1) + ":"), std::string::npos) << error;
        }
    }
    // The middle swap that open lets through (above) is found by the whole read.
    Corpus swapped = base;
    std::swap(swapped.rows[10000], swapped.rows[10001]);
    write_file(dir.file("pwned.txt"), swapped.by_hash("\n"));
    std::uint64_t lines = 0;
    std::string error;
    EXPECT_EQ(verify_breach_file(dir.file("pwned.txt"), nullptr, lines, error), BreachStatus::kWrongShape);
    EXPECT_EQ(lines, 10001u);
    // Shapes: a bad line in the middle, and a last line without its line end.
    std::string text = base.by_hash("\n");
    std::size_t line_5001 = 0;
    for (int k = 0; k < 5000; ++k) line_5001 = text.find('\n', line_5001) + 1;
    text[line_5001 + 40] = ';';
    write_file(dir.file("pwned.txt"), text);
    EXPECT_EQ(verify_breach_file(dir.file("pwned.txt"), nullptr, lines, error), BreachStatus::kWrongShape);
    EXPECT_EQ(lines, 5000u);
    EXPECT_NE(error.find("not a line HASH:COUNT"), std::string::npos) << error;
    text = base.by_hash("\n");
    text.pop_back();
    write_file(dir.file("pwned.txt"), text);
    EXPECT_EQ(verify_breach_file(dir.file("pwned.txt"), nullptr, lines, error), BreachStatus::kOk) << error;
    EXPECT_EQ(lines, 20000u);
    EXPECT_EQ(verify_breach_file(dir.file("missing.txt"), nullptr, lines, error), BreachStatus::kCannotRead);
}

TEST(BreachFolder, OneFilePerPrefix)
{
    TempDir dir;
    const Corpus corpus(300);
    corpus.write_folder(narrow(dir.path()));
    BreachCorpus folder;
    std::string error;
    ASSERT_EQ(folder.open(narrow(dir.path()), error), BreachStatus::kOk) << error;
    for (const auto& [d, count] : corpus.rows) {
        ASSERT_EQ(lookup(folder, d), count);
        const Digest between = next_of(d);
        if (std::find_if(corpus.rows.begin(), corpus.rows.end(), [&](const auto& r) { return r.first == between; }) ==
            corpus.rows.end()) {
            ASSERT_EQ(lookup(folder, between), 0u);
        }
    }
    EXPECT_EQ(folder.reads(), 2 * corpus.rows.size());

    // A prefix without its file: the folder is incomplete, never "not breached".
    std::uint64_t count = 0;
    Digest absent{};
    absent[0] = 0x12;
    absent[1] = 0x34;
    absent[2] = 0x50;
    if (!fs::exists(dir.path() / "12345.txt")) {
        EXPECT_EQ(folder.count_digest(absent.data(), count, error), BreachStatus::kWrongShape);
        EXPECT_NE(error.find("12345.txt is missing"), std::string::npos) << error;
    }
    // A file of the folder with a line of another shape.
    write_file(dir.file("12345.txt"), "0000000000000000000000000000000000:1\r\n");
    EXPECT_EQ(folder.count_digest(absent.data(), count, error), BreachStatus::kWrongShape);
    EXPECT_NE(error.find("SUFFIX:COUNT"), std::string::npos) << error;
}
