#include "audit/breach.h"

#include "crypto/wipe.h"
#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kHashDigits = 2 * kSha1DigestSize;
constexpr std::size_t kPrefixDigits = 5;
constexpr std::size_t kMaxCountDigits = 20;
// The longest line: hash, colon, count, CR LF.
constexpr std::size_t kMaxLine = kHashDigits + 1 + kMaxCountDigits + 2;
// Bytes read around a guessed place; a range this small is read whole.
constexpr std::size_t kWindow = 4096;
constexpr std::size_t kWholeRange = 2 * kWindow;
// What open reads to check the order: the file's head and tail, and windows spread
// between them.
constexpr std::uint64_t kEndCheck = 64 * 1024;
constexpr int kOrderWindows = 64;
// A prefix file of the corpus holds about two thousand lines; far more is not one.
constexpr std::uint64_t kMaxPrefixFile = 16u << 20;

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads `digits` hex digits at `text` into `out` (half bytes from `first_nibble` on).
bool parse_hex(const char* text, std::size_t digits, std::uint8_t* out, std::size_t first_nibble)
{
    for (std::size_t k = 0; k < digits; ++k) {
        const int v = hex_value(text[k]);
        if (v < 0) return false;
        const std::size_t nibble = first_nibble + k;
        if (nibble % 2 == 0)
            out[nibble / 2] = static_cast<std::uint8_t>(v << 4);
        else
            out[nibble / 2] = static_cast<std::uint8_t>(out[nibble / 2] | v);
    }
    return true;
}

// Reads ":COUNT" and the line end at `p`; `end` is the end of the bytes at hand and
// `at_eof` whether the file ends there. Returns the length read, or 0 when the bytes
// are not a count and a line end (or the line is cut off by `end` before the file's
// end, which the caller avoids by reading kMaxLine past what it needs).
std::size_t parse_count(const char* p, const char* end, bool at_eof, std::uint64_t& count)
{
    const char* q = p;
    if (q == end || *q++ != ':') return 0;
    count = 0;
    std::size_t digits = 0;
    while (q < end && *q >= '0' && *q <= '9') {
        const std::uint64_t d = static_cast<std::uint64_t>(*q - '0');
        if (count > (UINT64_MAX - d) / 10) return 0;
        count = count * 10 + d;
        ++q;
        ++digits;
    }
    if (digits == 0 || digits > kMaxCountDigits) return 0;
    if (q < end && *q == '\r') ++q;
    if (q < end && *q == '\n') return static_cast<std::size_t>(q + 1 - p);
    if (q == end && at_eof) return static_cast<std::size_t>(q - p);
    return 0;
}

std::string system_error(const std::string& path, int error_number)
{
    return path + ": " + std::strerror(error_number);
}

}  // namespace

BreachCorpus::~BreachCorpus()
{
    if (file_) std::fclose(file_);
}

BreachStatus BreachCorpus::wrong_shape(std::string& error) const
{
    error =
        path_ + " is not the breach file ordered by hash: it holds lines other than HASH:COUNT; " + kBreachFileNeeded;
    return BreachStatus::kWrongShape;
}

BreachStatus BreachCorpus::wrong_order(std::string& error) const
{
    error = path_ + " is not ordered by hash (the file ordered by count cannot be searched); " + kBreachFileNeeded;
    return BreachStatus::kWrongShape;
}

BreachStatus BreachCorpus::open(const std::string& path, std::string& error)
{
    if (file_) std::fclose(file_);
    file_ = nullptr;
    folder_.clear();
    path_ = path;
    reads_ = 0;
    if (db_file::is_folder(path)) {
        folder_ = path;
        return BreachStatus::kOk;
    }
    file_ = db_file::open_for_reading(path);
    if (!file_) {
        error = system_error(path, errno);
        return BreachStatus::kCannotRead;
    }
    auto fail = [this](BreachStatus status) {
        std::fclose(file_);
        file_ = nullptr;
        return status;
    };
    if (!db_file::size_of(file_, size_)) {
        error = system_error(path, errno);
        return fail(BreachStatus::kCannotRead);
    }
    if (size_ == 0) return fail(wrong_shape(error));

    // The head, the windows and the tail in the order of the file, each ascending
    // and each above the one before. A region overlapping the one before (a small
    // file) skips the lines already seen.
    std::vector<Line> lines;
    BreachStatus status = BreachStatus::kOk;
    bool seen = false;
    Line previous{};
    for (int r = 0; r <= kOrderWindows + 1 && status == BreachStatus::kOk; ++r) {
        std::uint64_t from = 0;
        std::uint64_t to = std::min(size_, kEndCheck);
        if (r > kOrderWindows) {
            from = size_ > kEndCheck ? size_ - kEndCheck : 0;
            to = size_;
        } else if (r > 0) {
            from = static_cast<std::uint64_t>(static_cast<long double>(size_) * r / (kOrderWindows + 1));
            to = std::min(size_, from + kWindow);
        }
        status = read_lines(from, to, from == 0, lines, error);
        if (status != BreachStatus::kOk) break;
        if (lines.empty() && to + kMaxLine < size_) status = wrong_shape(error);
        for (const Line& line : lines) {
            if (seen && line.offset <= previous.offset) continue;
            if (seen && std::memcmp(previous.hash, line.hash, kSha1DigestSize) >= 0) {
                status = wrong_order(error);
                break;
            }
            if (!seen) first_ = line;
            seen = true;
            previous = line;
        }
    }
    reads_ = 0;
    if (status == BreachStatus::kOk && !seen) status = wrong_shape(error);
    if (status != BreachStatus::kOk) return fail(status);
    last_ = previous;
    return BreachStatus::kOk;
}

BreachStatus verify_breach_file(const std::string& path, const BreachProgress& progress, std::uint64_t& lines,
                                std::string& error)
{
    lines = 0;
    std::FILE* file = db_file::open_for_reading(path);
    if (!file) {
        error = system_error(path, errno);
        return BreachStatus::kCannotRead;
    }
    struct Closer {
        std::FILE* file;
        ~Closer() { std::fclose(file); }
    } closer{file};
    std::uint64_t size = 0;
    if (!db_file::size_of(file, size)) {
        error = system_error(path, errno);
        return BreachStatus::kCannotRead;
    }
    auto refuse = [&](const char* why) {
        error = path + ", line " + std::to_string(lines + 1) + ": " + why + "; " + kBreachFileNeeded;
        return BreachStatus::kWrongShape;
    };
    if (size == 0) return refuse("the file is empty");
    // Whole lines are taken from the buffer; the part of a line at its end moves to
    // the front before the next read.
    constexpr std::size_t kChunk = 1 << 20;
    std::vector<char> buffer(kChunk + kMaxLine);
    WipeOnExit wipe_buffer(buffer.data(), buffer.size());
    std::uint8_t previous[kSha1DigestSize];
    std::uint8_t hash[kSha1DigestSize];
    WipeOnExit wipe_previous(previous, sizeof previous);
    WipeOnExit wipe_hash(hash, sizeof hash);
    std::size_t held = 0;
    std::uint64_t offset = 0;
    while (offset < size || held > 0) {
        std::size_t got = 0;
        if (offset < size) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - offset));
            if (!db_file::read_at(file, offset, buffer.data() + held, want, got)) {
                error = system_error(path, errno);
                return BreachStatus::kCannotRead;
            }
            if (got != want) {
                error = system_error(path, EIO);
                return BreachStatus::kCannotRead;
            }
            offset += got;
        }
        const bool at_eof = offset == size;
        const char* p = buffer.data();
        const char* end = p + held + got;
        while (p < end) {
            if (!at_eof && end - p < static_cast<std::ptrdiff_t>(kMaxLine)) break;
            std::uint64_t count = 0;
            std::size_t rest = 0;
            if (end - p < static_cast<std::ptrdiff_t>(kHashDigits) || !parse_hex(p, kHashDigits, hash, 0) ||
                (rest = parse_count(p + kHashDigits, end, at_eof, count)) == 0)
                return refuse("not a line HASH:COUNT");
            if (lines > 0 && std::memcmp(previous, hash, kSha1DigestSize) >= 0)
                return refuse("not above the line before (the file is not wholly ordered by hash)");
            std::memcpy(previous, hash, kSha1DigestSize);
            ++lines;
            p += kHashDigits + rest;
        }
        held = static_cast<std::size_t>(end - p);
        std::memmove(buffer.data(), p, held);
        if (at_eof && held == 0) break;
        if (progress) progress(offset, size);
    }
    if (progress) progress(size, size);
    return BreachStatus::kOk;
}

BreachStatus BreachCorpus::read_lines(std::uint64_t from, std::uint64_t to, bool at_line_start,
                                      std::vector<Line>& lines, std::string& error)
{
    lines.clear();
    const std::uint64_t end = std::min(size_, to + kMaxLine);
    std::vector<char> buffer(static_cast<std::size_t>(end - from));
    WipeOnExit wipe_buffer(buffer.data(), buffer.size());
    std::size_t got = 0;
    ++reads_;
    if (!db_file::read_at(file_, from, buffer.data(), buffer.size(), got)) {
        error = system_error(path_, errno);
        return BreachStatus::kCannotRead;
    }
    if (got != buffer.size()) {  // the file shrank under us
        error = system_error(path_, EIO);
        return BreachStatus::kCannotRead;
    }
    const char* p = buffer.data();
    const char* stop = p + buffer.size();
    if (!at_line_start) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', buffer.size()));
        if (!newline) return BreachStatus::kOk;
        p = newline + 1;
    }
    const bool at_eof = end == size_;
    while (p < stop && from + static_cast<std::uint64_t>(p - buffer.data()) < to) {
        Line line{};
        line.offset = from + static_cast<std::uint64_t>(p - buffer.data());
        if (stop - p < static_cast<std::ptrdiff_t>(kHashDigits) || !parse_hex(p, kHashDigits, line.hash, 0))
            return wrong_shape(error);
        const std::size_t rest = parse_count(p + kHashDigits, stop, at_eof, line.count);
        if (rest == 0) return wrong_shape(error);
        p += kHashDigits + rest;
        lines.push_back(line);
    }
    return BreachStatus::kOk;
}

BreachStatus BreachCorpus::count(std::string_view password, std::uint64_t& out, std::string& error)
{
    std::uint8_t digest[kSha1DigestSize];
    WipeOnExit wipe_digest(digest, sizeof digest);
    sha1(reinterpret_cast<const std::uint8_t*>(password.data()), password.size(), digest);
    return count_digest(digest, out, error);
}

BreachStatus BreachCorpus::count_digest(const std::uint8_t digest[kSha1DigestSize], std::uint64_t& out,
                                        std::string& error)
{
    out = 0;
    if (!folder_.empty()) return search_folder(digest, out, error);
    if (!file_) {
        error = "no breach file is open";
        return BreachStatus::kCannotRead;
    }
    return search_file(digest, out, error);
}

BreachStatus BreachCorpus::search_file(const std::uint8_t digest[kSha1DigestSize], std::uint64_t& out,
                                       std::string& error)
{
    // The lines of the last read, wiped when the search ends (room for the most
    // that a whole range can hold, so that they never move).
    std::vector<Line> lines;
    lines.reserve(kWholeRange / (kHashDigits + 3) + 2);
    struct WipeLines {
        std::vector<Line>& lines;
        ~WipeLines() { secure_wipe(lines.data(), lines.capacity() * sizeof(Line)); }
    } wipe_lines{lines};

    auto compare = [digest](const Line& line) { return std::memcmp(digest, line.hash, kSha1DigestSize); };
    auto key = [](const std::uint8_t* hash) {
        std::uint64_t k = 0;
        for (int b = 0; b < 8; ++b) k = k << 8 | hash[b];
        return k;
    };
    // Looks the digest up among `lines`, which must lie between `lo` (or be it) and
    // `hi` in ascending order: `done` when the digest is within their range.
    auto settle = [&](const Line& lo, const Line& hi, bool& done) {
        const std::size_t count = lines.size();
        done = false;
        for (std::size_t k = 0; k < count; ++k) {
            const bool above_lo =
                std::memcmp(lines[k].hash, lo.hash, kSha1DigestSize) > 0 || lines[k].offset == lo.offset;
            const bool below_hi =
                std::memcmp(lines[k].hash, hi.hash, kSha1DigestSize) < 0 || lines[k].offset == hi.offset;
            if (!above_lo || !below_hi ||
                (k > 0 && std::memcmp(lines[k - 1].hash, lines[k].hash, kSha1DigestSize) >= 0))
                return wrong_order(error);
        }
        if (count > 0 && compare(lines[0]) >= 0 && compare(lines[count - 1]) <= 0) {
            done = true;
            for (std::size_t k = 0; k < count; ++k)
                if (compare(lines[k]) == 0) out = lines[k].count;
        }
        return BreachStatus::kOk;
    };

    Line lo = first_;
    Line hi = last_;
    if (compare(lo) == 0) out = lo.count;
    if (compare(hi) == 0) out = hi.count;
    if (compare(lo) <= 0 || compare(hi) >= 0) return BreachStatus::kOk;

    bool bisect = false;
    for (;;) {
        const std::uint64_t span = hi.offset - lo.offset;
        bool done = false;
        if (span <= kWholeRange) {
            if (BreachStatus status = read_lines(lo.offset, hi.offset, true, lines, error); status != BreachStatus::kOk)
                return status;
            return settle(lo, hi, done);
        }
        std::uint64_t guess;
        const std::uint64_t lo_key = key(lo.hash);
        const std::uint64_t hi_key = key(hi.hash);
        const std::uint64_t target = key(digest);
        if (bisect || hi_key <= lo_key) {
            guess = lo.offset + span / 2;
        } else {
            const long double fraction =
                static_cast<long double>(target - lo_key) / static_cast<long double>(hi_key - lo_key);
            guess = lo.offset + static_cast<std::uint64_t>(fraction * static_cast<long double>(span));
        }
        std::uint64_t from = guess > lo.offset + kWindow / 2 ? guess - kWindow / 2 : lo.offset + 1;
        if (from + kWindow > hi.offset) from = hi.offset - kWindow;
        if (BreachStatus status = read_lines(from, from + kWindow, false, lines, error); status != BreachStatus::kOk)
            return status;
        if (lines.empty()) return wrong_shape(error);
        if (BreachStatus status = settle(lo, hi, done); status != BreachStatus::kOk) return status;
        if (done) return BreachStatus::kOk;
        if (compare(lines.front()) < 0)
            hi = lines.front();
        else
            lo = lines.back();
        // Interpolation that kept more than half of the range is not working on this
        // file: the next step halves it, so the search always ends.
        bisect = hi.offset - lo.offset > span / 2;
    }
}

BreachStatus BreachCorpus::search_folder(const std::uint8_t digest[kSha1DigestSize], std::uint64_t& out,
                                         std::string& error)
{
    static const char kDigits[] = "0123456789ABCDEF";
    char name[kPrefixDigits + 5];
    WipeOnExit wipe_name(name, sizeof name);
    for (std::size_t k = 0; k < kPrefixDigits; ++k)
        name[k] = kDigits[(k % 2 == 0 ? digest[k / 2] >> 4 : digest[k / 2]) & 0xF];
    std::memcpy(name + kPrefixDigits, ".txt", 5);
    const std::string file_path = folder_ + "/" + name;

    ++reads_;
    std::FILE* file = db_file::open_for_reading(file_path);
    if (!file) {
        // An incomplete folder would answer "not breached" for every password of the
        // missing prefix: it is refused, as a file of the wrong shape is.
        if (errno != ENOENT) {
            error = system_error(file_path, errno);
            return BreachStatus::kCannotRead;
        }
        error = file_path +
            " is missing: the breach folder needs one file for each five-digit prefix "
            "(00000.txt to FFFFF.txt)";
        return BreachStatus::kWrongShape;
    }
    std::uint64_t size = 0;
    const bool sized = db_file::size_of(file, size);
    if (sized && size > kMaxPrefixFile) {
        std::fclose(file);
        error = file_path + " is too large for a file of the breach folder";
        return BreachStatus::kWrongShape;
    }
    std::vector<char> text(sized ? static_cast<std::size_t>(size) : 0);
    WipeOnExit wipe_text(text.data(), text.size());
    std::size_t got = 0;
    const bool read = sized && db_file::read_at(file, 0, text.data(), text.size(), got);
    const int error_number = errno;
    std::fclose(file);
    if (!read || got != text.size()) {
        error = system_error(file_path, read ? EIO : error_number);
        return BreachStatus::kCannotRead;
    }

    std::uint8_t hash[kSha1DigestSize];
    WipeOnExit wipe_hash(hash, sizeof hash);
    std::memcpy(hash, digest, kSha1DigestSize);
    const char* p = text.data();
    const char* end = p + text.size();
    const std::size_t suffix = kHashDigits - kPrefixDigits;
    while (p < end) {
        std::uint64_t count = 0;
        std::size_t rest = 0;
        if (end - p < static_cast<std::ptrdiff_t>(suffix) || !parse_hex(p, suffix, hash, kPrefixDigits) ||
            (rest = parse_count(p + suffix, end, true, count)) == 0) {
            error = file_path + " is not a file of the breach folder: it holds lines other than SUFFIX:COUNT";
            return BreachStatus::kWrongShape;
        }
        // parse_hex rewrote the digest's last 35 digits: a match leaves it unchanged.
        if (std::memcmp(hash, digest, kSha1DigestSize) == 0) out = count;
        std::memcpy(hash, digest, kSha1DigestSize);
        p += suffix + rest;
    }
    return BreachStatus::kOk;
}
