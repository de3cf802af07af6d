#include "audit/strength.h"

#include "audit/wordlists.h"
#include "crypto/wipe.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Every guess count is kept as its decimal logarithm: brute force over a hundred
// characters already leaves the range of a double.
using Log = double;

constexpr Log kNone = std::numeric_limits<double>::infinity();
// A sequence of more parts costs at least this much more per part.
constexpr double kLogGuessesPerExtraPart = 4;  // 10,000
// The least a part shorter than the whole password may cost: one character, more.
constexpr Log kLogMinOneChar = 1;  // 10
constexpr Log kLogMinPart = 1.69897;  // 50
// Years are guessed outwards from this one.
constexpr int kReferenceYear = 2025;
constexpr int kMinYearSpace = 20;
constexpr int kMinDateYear = 1000;
constexpr int kMaxDateYear = 2050;

enum class Kind { kDictionary, kSpatial, kSequence, kRepeat, kDate, kBruteForce };

// A part: bytes i to j of the password, both included.
struct Match {
    std::size_t i;
    std::size_t j;
    Log guesses;
    Kind kind;
};

bool is_lower(unsigned char c)
{
    return c >= 'a' && c <= 'z';
}
bool is_upper(unsigned char c)
{
    return c >= 'A' && c <= 'Z';
}
bool is_digit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

Log log_binomial(unsigned n, unsigned k)
{
    return (std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0)) / std::log(10.0);
}

// log10 of 10^a + 10^b.
Log log_add(Log a, Log b)
{
    if (a < b) std::swap(a, b);
    return a + std::log10(1 + std::pow(10.0, b - a));
}

// The ways to place `a` marked characters among `a` + `b`, counting at most half of
// them marked: how many spellings an attacker tries for a pattern of case or
// substitution. Nothing marked: 1; everything or nothing else: 2.
Log log_variations(unsigned marked, unsigned others)
{
    if (marked == 0) return 0;
    if (others == 0) return std::log10(2.0);
    Log sum = kNone;
    for (unsigned t = 1; t <= std::min(marked, others); ++t) {
        const Log term = log_binomial(marked + others, t);
        sum = sum == kNone ? term : log_add(sum, term);
    }
    return sum;
}

// ---------------------------------------------------------------------------------
// The built-in lists, indexed once.

class WordIndex {
public:
    WordIndex()
    {
        std::size_t words = 0;
        for (std::size_t t = 0; t < kRankedWordTierCount; ++t) words += kRankedWordTiers[t].words;
        for (std::size_t t = 0; t < kEnglishWordTierCount; ++t) words += kEnglishWordTiers[t].words;
        ranks_.reserve(words);
        std::string word;
        // Every word of a band of ranks counts as the band's middle rank.
        std::uint32_t after = 0;
        for (std::size_t t = 0; t < kRankedWordTierCount; ++t) {
            const WordTier& tier = kRankedWordTiers[t];
            for_each_word(tier, word, [&](const std::string& w) { add(w, tier.rank); });
            after = std::max(after, 2 * tier.rank);
        }
        // The spell-checker's tiers come after them, each word as the middle of its tier.
        std::uint32_t before = after;
        for (std::size_t t = 0; t < kEnglishWordTierCount; ++t) {
            const WordTier& tier = kEnglishWordTiers[t];
            const std::uint32_t tier_rank = before + static_cast<std::uint32_t>((tier.words + 1) / 2);
            for_each_word(tier, word, [&](const std::string& w) { add(w, tier_rank); });
            before += static_cast<std::uint32_t>(tier.words);
        }
    }

    // The rank of a lower-case word (1 the most common), or 0.
    std::uint32_t rank(std::string_view word) const
    {
        auto found = ranks_.find(word);
        return found == ranks_.end() ? 0 : found->second;
    }
    std::size_t longest() const noexcept { return longest_; }
    std::size_t size() const noexcept { return ranks_.size(); }

private:
    void add(std::string_view word, std::uint32_t rank)
    {
        // The words live in blocks that never move, so that the views stay valid.
        if (arena_.empty() || used_ + word.size() > kArenaBlock) {
            arena_.emplace_back(new char[std::max(kArenaBlock, word.size())]);
            used_ = 0;
        }
        char* at = arena_.back().get() + used_;
        std::memcpy(at, word.data(), word.size());
        used_ += word.size();
        const std::string_view stored(at, word.size());
        auto [it, inserted] = ranks_.emplace(stored, rank);
        if (!inserted && rank < it->second) it->second = rank;
        longest_ = std::max(longest_, word.size());
    }

    static constexpr std::size_t kArenaBlock = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> arena_;
    std::size_t used_ = 0;
    std::unordered_map<std::string_view, std::uint32_t> ranks_;
    std::size_t longest_ = 0;
};

const WordIndex& word_index()
{
    static const WordIndex index;
    return index;
}

// ---------------------------------------------------------------------------------
// Dictionary parts: as typed, with substitutions undone, and reversed.

struct Substitution {
    char from;
    char to;  // what it stands for in the first reading
    char to_alt;  // in the second reading (the same where there is one meaning)
};

constexpr Substitution kSubstitutions[] = {
    {'4', 'a', 'a'}, {'@', 'a', 'a'}, {'8', 'b', 'b'}, {'(', 'c', 'c'}, {'{', 'c', 'c'},
    {'[', 'c', 'c'}, {'<', 'c', 'c'}, {'3', 'e', 'e'}, {'6', 'g', 'g'}, {'9', 'g', 'g'},
    {'1', 'i', 'l'}, {'!', 'i', 'i'}, {'|', 'i', 'l'}, {'0', 'o', 'o'}, {'$', 's', 's'},
    {'5', 's', 's'}, {'7', 't', 't'}, {'+', 't', 't'}, {'%', 'x', 'x'}, {'2', 'z', 'z'},
};

// How many spellings of a word in case: all lower 1; first, last or all upper 2.
Log log_case_variations(std::string_view part)
{
    unsigned upper = 0;
    unsigned lower = 0;
    for (unsigned char c : part) {
        upper += is_upper(c);
        lower += is_lower(c);
    }
    if (upper == 0) return 0;
    const bool first_only = upper == 1 && is_upper(static_cast<unsigned char>(part.front()));
    const bool last_only = upper == 1 && is_upper(static_cast<unsigned char>(part.back()));
    if (lower == 0 || first_only || last_only) return std::log10(2.0);
    return log_variations(upper, lower);
}

// How many spellings with substitutions: per substituted character, the ways to
// choose which occurrences of its letter were replaced. `plain` is the part lowered,
// `read` the same with the substitutions undone.
Log log_substitution_variations(std::string_view plain, std::string_view read)
{
    Log total = 0;
    for (const Substitution& s : kSubstitutions) {
        unsigned subbed = 0;
        char letter = 0;
        for (std::size_t k = 0; k < plain.size(); ++k)
            if (plain[k] == s.from && read[k] != s.from) {
                ++subbed;
                letter = read[k];
            }
        if (subbed == 0) continue;
        unsigned unsubbed = 0;
        for (char c : plain) unsubbed += c == letter;
        total += log_variations(subbed, unsubbed);
    }
    return total;
}

bool substitutes(char c, char& to, bool alt)
{
    for (const Substitution& s : kSubstitutions)
        if (s.from == c) {
            to = alt ? s.to_alt : s.to;
            return true;
        }
    return false;
}

void match_dictionary(std::string_view typed, const SecretString& lowered, std::vector<Match>& out)
{
    const WordIndex& index = word_index();
    const std::size_t n = typed.size();
    const std::size_t longest = index.longest();

    auto look_up = [&](const SecretString& text, bool substituted, bool reversed) {
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t len = 3; len <= longest && i + len <= n; ++len) {
                const std::string_view word(text.data() + i, len);
                const std::uint32_t rank = index.rank(word);
                if (rank == 0) continue;
                // Positions in the password as typed.
                const std::size_t from = reversed ? n - i - len : i;
                const std::string_view part = typed.substr(from, len);
                Log guesses = std::log10(static_cast<double>(rank)) + log_case_variations(part);
                if (substituted) {
                    const std::string_view plain(lowered.data() + from, len);
                    if (word == plain) continue;  // nothing substituted here: found as typed
                    guesses += log_substitution_variations(plain, word);
                }
                if (reversed) guesses += std::log10(2.0);
                out.push_back({from, from + len - 1, guesses, Kind::kDictionary});
            }
    };
    look_up(lowered, false, false);

    for (bool alt : {false, true}) {
        SecretString read(lowered.data(), n);
        bool any = false;
        for (std::size_t k = 0; k < n; ++k) {
            char to;
            if (substitutes(read[k], to, alt)) {
                read.data()[k] = to;
                any = true;
            }
        }
        if (any) look_up(read, true, false);
    }

    SecretString reversed(lowered.data(), n);
    std::reverse(reversed.data(), reversed.data() + n);
    look_up(reversed, false, true);
}

// ---------------------------------------------------------------------------------
// Keyboard walks on the US layout. A key's position is its row and its place in
// half-key steps from the left, so that each key has up to six neighbours.

constexpr const char* kRows[4][2] = {
    {"`1234567890-=", "~!@#$%^&*()_+"},
    {"qwertyuiop[]\\", "QWERTYUIOP{}|"},
    {"asdfghjkl;'", "ASDFGHJKL:\""},
    {"zxcvbnm,./", "ZXCVBNM<>?"},
};
constexpr int kRowOffset[4] = {0, 3, 4, 5};

struct KeyPosition {
    int row = -1;
    int x = 0;
    bool shifted = false;
};

struct Keyboard {
    KeyPosition keys[128];
    double keys_count = 0;
    double average_degree = 0;

    Keyboard()
    {
        for (int r = 0; r < 4; ++r)
            for (int s = 0; s < 2; ++s)
                for (int c = 0; kRows[r][s][c]; ++c) {
                    KeyPosition& key = keys[static_cast<unsigned char>(kRows[r][s][c])];
                    key.row = r;
                    key.x = 2 * c + kRowOffset[r];
                    key.shifted = s == 1;
                }
        double degrees = 0;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; kRows[r][0][c]; ++c) {
                const KeyPosition& key = keys[static_cast<unsigned char>(kRows[r][0][c])];
                keys_count += 1;
                for (const KeyPosition& other : keys)
                    if (!other.shifted && other.row >= 0 && direction(key, other) >= 0) degrees += 1;
            }
        average_degree = degrees / keys_count;
    }

    // 0 to 5 when `b` is next to `a` (left, right, up left, up right, down left,
    // down right), else -1.
    static int direction(const KeyPosition& a, const KeyPosition& b)
    {
        if (a.row < 0 || b.row < 0) return -1;
        const int dx = b.x - a.x;
        if (b.row == a.row) return dx == -2 ? 0 : dx == 2 ? 1 : -1;
        if (b.row == a.row - 1) return dx == -1 ? 2 : dx == 1 ? 3 : -1;
        if (b.row == a.row + 1) return dx == -1 ? 4 : dx == 1 ? 5 : -1;
        return -1;
    }

    const KeyPosition& key(char c) const { return keys[static_cast<unsigned char>(c) & 0x7F]; }
};

const Keyboard& keyboard()
{
    static const Keyboard board;
    return board;
}

void match_spatial(std::string_view typed, std::vector<Match>& out)
{
    const Keyboard& board = keyboard();
    const std::size_t n = typed.size();
    for (std::size_t i = 0; i + 2 < n;) {
        std::size_t j = i;
        unsigned turns = 0;
        unsigned shifted = board.key(typed[i]).shifted && static_cast<unsigned char>(typed[i]) < 0x80;
        int last = -1;
        while (j + 1 < n && static_cast<unsigned char>(typed[j]) < 0x80 &&
               static_cast<unsigned char>(typed[j + 1]) < 0x80) {
            const int dir = Keyboard::direction(board.key(typed[j]), board.key(typed[j + 1]));
            if (dir < 0) break;
            if (dir != last) ++turns;
            last = dir;
            shifted += board.key(typed[j + 1]).shifted;
            ++j;
        }
        const unsigned length = static_cast<unsigned>(j - i + 1);
        if (length >= 3) {
            Log guesses = kNone;
            for (unsigned k = 2; k <= length; ++k)
                for (unsigned t = 1; t <= std::min(turns, k - 1); ++t) {
                    const Log term = log_binomial(k - 1, t - 1) + std::log10(board.keys_count) +
                        t * std::log10(board.average_degree);
                    guesses = guesses == kNone ? term : log_add(guesses, term);
                }
            guesses += log_variations(shifted, length - shifted);
            out.push_back({i, j, guesses, Kind::kSpatial});
            i = j;
        } else {
            ++i;
        }
    }
}

// ---------------------------------------------------------------------------------
// Sequences: letters or digits of one class with one step between them (abcd, 9876,
// aceg).

int char_class(unsigned char c)
{
    return is_lower(c) ? 1 : is_upper(c) ? 2 : is_digit(c) ? 3 : 0;
}

void match_sequences(std::string_view typed, std::vector<Match>& out)
{
    const std::size_t n = typed.size();
    for (std::size_t i = 0; i + 2 < n;) {
        const unsigned char first = static_cast<unsigned char>(typed[i]);
        const int cls = char_class(first);
        const int step = static_cast<unsigned char>(typed[i + 1]) - first;
        std::size_t j = i + 1;
        if (cls && step != 0 && std::abs(step) <= 5 && char_class(static_cast<unsigned char>(typed[j])) == cls)
            while (j + 1 < n && char_class(static_cast<unsigned char>(typed[j + 1])) == cls &&
                   static_cast<unsigned char>(typed[j + 1]) - static_cast<unsigned char>(typed[j]) == step)
                ++j;
        if (j - i + 1 >= 3) {
            double base = std::strchr("aAzZ019", first) ? 4 : cls == 3 ? 10 : 26;
            if (step < 0) base *= 2;
            out.push_back({i, j, std::log10(base * static_cast<double>(j - i + 1)), Kind::kSequence});
            i = j;
        } else {
            ++i;
        }
    }
}

// ---------------------------------------------------------------------------------
// Dates and years.

int to_int(std::string_view digits)
{
    int value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

Log log_year_guesses(int year)
{
    return std::log10(static_cast<double>(std::max(std::abs(year - kReferenceYear), kMinYearSpace)));
}

bool day_month(int a, int b)
{
    return (a >= 1 && a <= 31 && b >= 1 && b <= 12) || (b >= 1 && b <= 31 && a >= 1 && a <= 12);
}

// The year of a day, month and year in any of the usual orders, or 0.
int date_year(int a, int b, int c)
{
    if (b > 31 || b <= 0) return 0;
    int over_12 = 0;
    int over_31 = 0;
    int under_1 = 0;
    for (int v : {a, b, c}) {
        if ((v > 99 && v < kMinDateYear) || v > kMaxDateYear) return 0;
        over_31 += v > 31;
        over_12 += v > 12;
        under_1 += v <= 0;
    }
    if (over_31 >= 2 || over_12 == 3 || under_1 >= 2) return 0;
    const int years[2][3] = {{c, a, b}, {a, b, c}};
    for (const auto& y : years)
        if (y[0] >= kMinDateYear && y[0] <= kMaxDateYear) return day_month(y[1], y[2]) ? y[0] : 0;
    for (const auto& y : years)
        if (day_month(y[1], y[2])) return y[0] > 99 ? y[0] : y[0] > 50 ? 1900 + y[0] : 2000 + y[0];
    return 0;
}

void match_dates(std::string_view typed, std::vector<Match>& out)
{
    const std::size_t n = typed.size();
    auto all_digits = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return is_digit(static_cast<unsigned char>(c)); });
    };
    auto best_year = [](int year, int& best) {
        if (year && (best == 0 || std::abs(year - kReferenceYear) < std::abs(best - kReferenceYear))) best = year;
    };
    for (std::size_t i = 0; i < n; ++i) {
        // Years alone: 1900 to 2099.
        if (i + 4 <= n && all_digits(typed.substr(i, 4)) && (typed.substr(i, 2) == "19" || typed.substr(i, 2) == "20"))
            out.push_back({i, i + 3, log_year_guesses(to_int(typed.substr(i, 4))), Kind::kDate});
        // Dates without separators: 4 to 8 digits, split in every way a date is written.
        static const std::size_t kSplits[9][4][2] = {
            {},
            {},
            {},
            {},
            {{1, 2}, {2, 3}},
            {{1, 3}, {2, 3}},
            {{1, 2}, {2, 4}, {4, 5}},
            {{1, 3}, {2, 3}, {4, 5}, {4, 6}},
            {{2, 4}, {4, 6}},
        };
        for (std::size_t len = 4; len <= 8 && i + len <= n; ++len) {
            const std::string_view s = typed.substr(i, len);
            if (!all_digits(s)) break;
            int best = 0;
            for (const auto& split : kSplits[len]) {
                if (split[0] == 0) continue;
                best_year(date_year(to_int(s.substr(0, split[0])), to_int(s.substr(split[0], split[1] - split[0])),
                                    to_int(s.substr(split[1]))),
                          best);
            }
            if (best) out.push_back({i, i + len - 1, std::log10(365.0) + log_year_guesses(best), Kind::kDate});
        }
        // Dates with a separator used twice: 1-4 digits, 1-2 digits, 1-4 digits.
        for (std::size_t len = 6; len <= 10 && i + len <= n; ++len) {
            const std::string_view s = typed.substr(i, len);
            std::size_t first = 0;
            while (first < s.size() && is_digit(static_cast<unsigned char>(s[first]))) ++first;
            if (first < 1 || first > 4 || first == s.size() || !std::strchr(" /\\_.-", s[first])) continue;
            const std::size_t second = s.find(s[first], first + 1);
            if (second == std::string_view::npos || second - first - 1 < 1 || second - first - 1 > 2) continue;
            const std::string_view a = s.substr(0, first);
            const std::string_view b = s.substr(first + 1, second - first - 1);
            const std::string_view c = s.substr(second + 1);
            if (c.empty() || c.size() > 4 || !all_digits(b) || !all_digits(c)) continue;
            int best = 0;
            best_year(date_year(to_int(a), to_int(b), to_int(c)), best);
            if (best) out.push_back({i, i + len - 1, std::log10(365.0 * 4) + log_year_guesses(best), Kind::kDate});
        }
    }
}

// ---------------------------------------------------------------------------------
// Brute force.

// Lower case, upper case, digits, other ASCII, bytes beyond ASCII (UTF-8).
constexpr double kClassSizes[5] = {26, 26, 10, 33, 100};

std::uint16_t class_bits(unsigned char c)
{
    return is_lower(c) ? 1 : is_upper(c) ? 2 : is_digit(c) ? 4 : c < 0x80 ? 8 : 16;
}

Log estimate(std::string_view typed);

// Repeats (aaaa, abcabc): at each place the longest run of one repeated piece, the
// piece itself estimated like a password.
void match_repeats(std::string_view typed, std::vector<Match>& out)
{
    const std::size_t n = typed.size();
    for (std::size_t i = 0; i + 1 < n;) {
        std::size_t best_span = 0;
        std::size_t best_piece = 0;
        for (std::size_t piece = 1; i + 2 * piece <= n; ++piece) {
            std::size_t times = 1;
            while (i + (times + 1) * piece <= n && typed.compare(i + times * piece, piece, typed, i, piece) == 0)
                ++times;
            if (times >= 2 && times * piece > best_span) {
                best_span = times * piece;
                best_piece = piece;
            }
        }
        if (best_span) {
            const Log piece_guesses = estimate(typed.substr(i, best_piece));
            const double times = static_cast<double>(best_span / best_piece);
            out.push_back({i, i + best_span - 1, piece_guesses + std::log10(times), Kind::kRepeat});
            i += best_span;
        } else {
            ++i;
        }
    }
}

// ---------------------------------------------------------------------------------
// The cheapest split, by dynamic programming over the end of the parts and their
// number: l parts of g1..gl guesses cost l! * g1 * ... * gl + 10,000^(l-1).

Log estimate(std::string_view typed)
{
    const std::size_t n = typed.size();
    if (n == 0) return 0;

    std::vector<Match> matches;
    {
        SecretString lowered(typed.data(), n);
        for (std::size_t k = 0; k < n; ++k)
            if (is_upper(static_cast<unsigned char>(lowered[k])))
                lowered.data()[k] = static_cast<char>(lowered[k] + 32);
        match_dictionary(typed, lowered, matches);
    }
    match_spatial(typed, matches);
    match_sequences(typed, matches);
    match_repeats(typed, matches);
    match_dates(typed, matches);

    // A part shorter than the password costs at least a little.
    auto floor_guesses = [n](std::size_t i, std::size_t j, Log guesses) {
        if (j - i + 1 == n) return guesses;
        return std::max(guesses, j == i ? kLogMinOneChar : kLogMinPart);
    };

    // The character classes of every prefix, for brute force over any part.
    std::vector<std::uint16_t> counts[5];
    for (auto& c : counts) c.assign(n + 1, 0);
    for (std::size_t k = 0; k < n; ++k)
        for (int b = 0; b < 5; ++b)
            counts[b][k + 1] = static_cast<std::uint16_t>(
                counts[b][k] + ((class_bits(static_cast<unsigned char>(typed[k])) >> b) & 1));
    auto brute_force = [&](std::size_t i, std::size_t k) {
        double cardinality = 0;
        for (int b = 0; b < 5; ++b)
            if (counts[b][k + 1] != counts[b][i]) cardinality += kClassSizes[b];
        return static_cast<double>(k - i + 1) * std::log10(cardinality);
    };

    // best[k * parts + l]: the least product of the guesses of l parts that cover
    // bytes 0 to k.
    const std::size_t parts = n + 1;
    std::vector<Log> best(n * parts, kNone);
    auto consider = [&](std::size_t i, std::size_t k, Log guesses) {
        if (i == 0) {
            best[k * parts + 1] = std::min(best[k * parts + 1], guesses);
            return;
        }
        for (std::size_t l = 1; l <= i; ++l) {
            const Log before = best[(i - 1) * parts + l];
            if (before != kNone) best[k * parts + l + 1] = std::min(best[k * parts + l + 1], before + guesses);
        }
    };
    std::vector<std::vector<const Match*>> ending(n);
    for (const Match& m : matches) ending[m.j].push_back(&m);
    for (std::size_t k = 0; k < n; ++k) {
        for (const Match* m : ending[k]) consider(m->i, k, floor_guesses(m->i, m->j, m->guesses));
        for (std::size_t i = 0; i <= k; ++i) consider(i, k, floor_guesses(i, k, brute_force(i, k)));
    }

    Log least = kNone;
    for (std::size_t l = 1; l <= n; ++l) {
        const Log product = best[(n - 1) * parts + l];
        if (product == kNone) continue;
        const Log factorial = std::lgamma(static_cast<double>(l) + 1) / std::log(10.0);
        least = std::min(least, log_add(factorial + product, static_cast<double>(l - 1) * kLogGuessesPerExtraPart));
    }
    return least;
}

// ---------------------------------------------------------------------------------
// Inputs longer than one piece: repeats and sequences over the whole input first,
// then the rest in pieces.

// Past this many guesses the level cannot change (strong begins at 10^14) and no
// further piece of a long input is estimated: the pieces' guesses only multiply.
constexpr Log kEnoughLog = 20;

// The estimate in pieces of kStrengthAnalysedBytes, whose guesses multiply, added to
// `total`; it stops once the total reaches kEnoughLog.
Log estimate_in_pieces(std::string_view typed, Log total = 0)
{
    for (std::size_t at = 0; at < typed.size() && total < kEnoughLog; at += kStrengthAnalysedBytes)
        total += estimate(typed.substr(at, kStrengthAnalysedBytes));
    return total;
}

// A run that repeats a piece of `period` bytes from `i` for `span` bytes (a whole
// number of pieces), or a sequence (period 0).
struct LongRun {
    std::size_t i;
    std::size_t span;
    std::size_t period;
    Log guesses;  // for a sequence; a repeat's is found once the run is chosen
};

// The repeats of pieces up to kStrengthAnalysedBytes long and the sequences in the
// whole input that are at least kLongRunBytes long: for each period, the stretches
// where every byte equals the one a period before.
constexpr std::size_t kLongRunBytes = 8;

std::vector<LongRun> long_runs(std::string_view typed)
{
    const std::size_t n = typed.size();
    std::vector<LongRun> runs;
    for (std::size_t period = 1; period <= kStrengthAnalysedBytes && 2 * period <= n; ++period) {
        std::size_t k = period;
        while (k < n) {
            if (typed[k] != typed[k - period]) {
                ++k;
                continue;
            }
            const std::size_t start = k - period;
            while (k < n && typed[k] == typed[k - period]) ++k;
            const std::size_t span = (k - start) / period * period;
            if (span >= 2 * period && span >= kLongRunBytes) runs.push_back({start, span, period, 0});
        }
    }
    std::vector<Match> sequences;
    match_sequences(typed, sequences);
    for (const Match& m : sequences)
        if (m.j - m.i + 1 >= kLongRunBytes) runs.push_back({m.i, m.j - m.i + 1, 0, m.guesses});
    return runs;
}

// The input described as its longest runs (the longer first, none overlapping), each
// costing its piece's guesses times the number of repeats, and the bytes between
// them in pieces. kNone when there is no run.
Log estimate_with_long_runs(std::string_view typed)
{
    std::vector<LongRun> runs = long_runs(typed);
    if (runs.empty()) return kNone;
    std::stable_sort(runs.begin(), runs.end(), [](const LongRun& a, const LongRun& b) {
        return a.span != b.span ? a.span > b.span : a.period < b.period;
    });
    // The chosen runs by their start, for the overlap test.
    std::map<std::size_t, const LongRun*> chosen;
    for (const LongRun& run : runs) {
        auto next = chosen.lower_bound(run.i);
        if (next != chosen.end() && next->first < run.i + run.span) continue;
        if (next != chosen.begin() && std::prev(next)->first + std::prev(next)->second->span > run.i) continue;
        chosen.emplace(run.i, &run);
    }
    Log total = 0;
    std::size_t at = 0;
    for (const auto& [start, run] : chosen) {
        if (total >= kEnoughLog) return total;
        if (start > at) total = estimate_in_pieces(typed.substr(at, start - at), total);
        total += run->period == 0
            ? run->guesses
            : estimate(typed.substr(start, run->period)) + std::log10(static_cast<double>(run->span / run->period));
        at = start + run->span;
    }
    if (at < typed.size()) total = estimate_in_pieces(typed.substr(at), total);
    // Each part after the first is one more pattern to guess.
    return total + static_cast<double>(chosen.size() - 1) * std::log10(2.0);
}

}  // namespace

std::size_t build_strength_word_index()
{
    const WordIndex index;
    return index.size();
}

Strength estimate_strength(std::string_view password)
{
    Strength result;
    if (password.size() <= kStrengthAnalysedBytes) {
        result.log10_guesses = estimate(password);
    } else {
        // The cheaper of two descriptions: long runs first, or pieces alone.
        result.log10_guesses = std::min(estimate_in_pieces(password), estimate_with_long_runs(password));
    }
    result.level = strength_level(result.log10_guesses);
    return result;
}

StrengthLevel strength_level(double log10_guesses) noexcept
{
    if (log10_guesses < 6) return StrengthLevel::kVeryWeak;
    if (log10_guesses < 10) return StrengthLevel::kWeak;
    if (log10_guesses < 14) return StrengthLevel::kFair;
    return StrengthLevel::kStrong;
}

const char* strength_level_text(StrengthLevel level) noexcept
{
    switch (level) {
    case StrengthLevel::kVeryWeak: return "very weak";
    case StrengthLevel::kWeak: return "weak";
    case StrengthLevel::kFair: return "fair";
    case StrengthLevel::kStrong: return "strong";
    }
    return "very weak";
}
