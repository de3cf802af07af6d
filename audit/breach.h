#pragma once
// Breached passwords, offline: the published corpus of SHA-1 hashes with counts, as
// one file ordered by hash or as a folder of one file per five-hex-digit prefix.
//
// The file holds lines HASH:COUNT (40 hex digits, a colon, a decimal count, LF or
// CR LF) in ascending order of HASH. SHA-1 hashes are spread evenly, so a search
// that guesses a hash's place from its value (interpolation) finds it in a few reads
// of a few kilobytes; the file is never read whole. The same corpus ordered by
// count cannot be searched this way; opening it fails with a message that says
// which ordering is needed. The folder holds files XXXXX.txt (the prefix in upper
// case) of lines SUFFIX:COUNT (the other 35 hex digits).
//
// Every file read may be hostile: lines of another shape, hashes out of order, a
// count past 64 bits, a prefix file missing or too large all fail with a message,
// never with a silent "not found". A password's SHA-1 and its hex digits are
// computed in wiped memory, and the buffers that held corpus lines around it are
// wiped after each search.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/sha1.h"

enum class BreachStatus {
    kOk,
    kCannotRead,  // the file or folder cannot be opened or read (the system's reason given)
    kWrongShape,  // not the corpus in one of the two shapes, not ordered by hash, or a prefix file missing
};

class BreachCorpus {
public:
    BreachCorpus() = default;
    ~BreachCorpus();
    BreachCorpus(const BreachCorpus&) = delete;
    BreachCorpus& operator=(const BreachCorpus&) = delete;

    // Opens `path`: a folder is taken as the per-prefix folder, anything else as the
    // file ordered by hash. Its first and last 64 KiB and 64 windows of 4 KiB spread
    // between them are checked for shape and order: the lines of each read ascending,
    // each read above the one before. A part appended to the file (an update
    // concatenated onto it) of less than 64 KiB, or whose junction falls in a window,
    // is refused so; a longer one whose junctions all fall between windows is not,
    // and only verify_breach_file finds it. On failure `error` says why (naming the
    // path) and the corpus stays closed.
    BreachStatus open(const std::string& path, std::string& error);
    bool is_open() const noexcept { return file_ != nullptr || !folder_.empty(); }

    // How often the password occurs in the corpus (0: not at all). A failure (a read
    // error, a line of the wrong shape or order met on the way) sets `error`.
    BreachStatus count(std::string_view password, std::uint64_t& out, std::string& error);
    // The same for a SHA-1 digest.
    BreachStatus count_digest(const std::uint8_t digest[kSha1DigestSize], std::uint64_t& out, std::string& error);

    // Reads of the corpus made by count() since open() (the bench and tests watch it).
    std::uint64_t reads() const noexcept { return reads_; }

private:
    struct Line {
        std::uint64_t offset;
        std::uint8_t hash[kSha1DigestSize];
        std::uint64_t count;
    };
    BreachStatus search_file(const std::uint8_t digest[kSha1DigestSize], std::uint64_t& out, std::string& error);
    BreachStatus search_folder(const std::uint8_t digest[kSha1DigestSize], std::uint64_t& out, std::string& error);
    // The whole lines that start in [from, to) (after the first line end unless
    // `from` is a line's start), read in one read.
    BreachStatus read_lines(std::uint64_t from, std::uint64_t to, bool at_line_start, std::vector<Line>& lines,
                            std::string& error);
    BreachStatus wrong_order(std::string& error) const;
    BreachStatus wrong_shape(std::string& error) const;

    std::string path_;
    std::string folder_;
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t reads_ = 0;
    Line first_{};  // the file's first and last lines, which bound every search
    Line last_{};
};

// Called as the whole-file check goes: bytes read so far and the file's size.
using BreachProgress = std::function<void(std::uint64_t done, std::uint64_t size)>;

// Reads the file at `path` once, whole, and checks every line: HASH:COUNT, each hash
// above the one before. `lines` counts the good lines (the first bad one is line
// `lines` + 1). kWrongShape names that line; kCannotRead gives the system's reason.
BreachStatus verify_breach_file(const std::string& path, const BreachProgress& progress, std::uint64_t& lines,
                                std::string& error);

// The text every refusal of a file of the wrong shape or order ends with.
inline constexpr char kBreachFileNeeded[] =
    "the breach check needs the SHA-1 file ordered by hash (lines HASH:COUNT, ascending by HASH) "
    "or the folder of per-prefix files";
