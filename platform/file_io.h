#pragma once
// The vault's file access, one implementation per platform (file_io_posix.cpp,
// file_io_win.cpp). Paths are narrow (UTF-8) strings; errors are reported as the
// errno value whose standard description fits, so that both platforms give the
// same texts.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace db_file {

// How long opening, reading and replacing the vault wait for another program that
// holds the file without sharing it (a synchronisation client just after it wrote
// it; Windows only, where a file can be held so) before they report the failure.
inline constexpr unsigned kBusyWaitMilliseconds = 5000;

// Opens `path` for binary reading, letting other readers and writers in (waiting
// while another program holds it). Returns null with errno set when the file
// cannot be opened (a folder counts as such).
std::FILE* open_for_reading(const std::string& path);

// The size in bytes of an open file. False with errno set when it cannot be told.
bool size_of(std::FILE* file, std::uint64_t& size);

// Reads up to `size` bytes at `offset` (from the start, 64 bits also in the 32-bit
// build) into `out`; `got` is how many arrived (fewer only at the end of the file).
// False with errno set when the read fails. The file position afterwards is unspecified.
bool read_at(std::FILE* file, std::uint64_t offset, void* out, std::size_t size, std::size_t& got);

// True when `path` names a folder (a link to one counts).
bool is_folder(const std::string& path);

struct WriteOutcome {
    enum Kind {
        kOk,
        kOpenFailed,  // the target is not writable, or the new file cannot be created
        kWriteFailed,  // writing or flushing the new file failed (disk full, ...)
        kReplaceFailed,  // the new file could not take the target's place
    };
    Kind kind = kOk;
    int error_number = 0;  // errno value for kOpenFailed and kReplaceFailed
};

inline WriteOutcome failed(WriteOutcome::Kind kind, int error_number)
{
    WriteOutcome outcome;
    outcome.kind = kind;
    outcome.error_number = error_number;
    return outcome;
}

// What replace_file may do to a file that exists at the path.
enum class Placement {
    kReplace,  // put the new file in its place
    kCreateNew,  // keep it: fail with EEXIST, also when it appears while the new file is written
};

// Writes `head` then `body` into a new file beside `path`, flushes it to the disk
// and only then puts it in the place of `path` in one step (waiting while another
// program holds the target). A file that exists at
// `path` stays byte-for-byte as it was unless the result is kOk, and the new file
// never outlives a failure. A read-only target fails with EACCES, even for root.
// The new file keeps what was set on the old one (its mode on POSIX systems; its
// attributes, security and creation time on Windows), and a symbolic link at `path`
// stays a link: the file it points at is the one replaced. With kCreateNew anything
// at `path` (a file, a folder, a link) fails the call with EEXIST and is left alone.
WriteOutcome replace_file(const std::string& path, const std::uint8_t* head, std::size_t head_size,
                          const std::uint8_t* body, std::size_t body_size, Placement placement = Placement::kReplace);

// copy_to_new_file's result when `source` does not exist (no errno value is negative).
inline constexpr int kNoSource = -1;

// Copies the file `source` into a new file `target`, which is created only if no
// entry of that name exists (never overwritten, a symbolic link never followed), and
// flushes it to the disk. A copy that fails part way is removed. Returns 0, kNoSource
// when `source` does not exist, EEXIST when `target` does, or another errno value.
int copy_to_new_file(const std::string& source, const std::string& target);

// What erase_file did to the file's contents.
enum class Erased {
    kZeroed,  // overwritten with zeros, flushed, then its name removed
    kNameOnly,  // only the name removed: another name still leads to the contents
};

// Deletes the file `path`, overwriting it with zeros over its whole length and
// flushing it to the disk first: for files that held secrets (a CSV export, an old
// vault format, a merged conflict copy). The zeros are written only when the file
// has exactly one link and is not the file that `keep` names (the vault, compared by
// identity: device and inode, or volume serial and file index); otherwise, as for a
// symbolic link (removed, never followed), only the name goes and `how` says
// kNameOnly. An empty `keep` names no file. Returns 0, or an errno value with the
// file possibly still there (ENOENT when there was none, EISDIR for a folder).
int erase_file(const std::string& path, const std::string& keep, Erased& how);
int erase_file(const std::string& path);

// Deletes the file `path` (a symbolic link is removed, never followed); a read-only
// file is deleted too. Returns 0 or an errno value (ENOENT when there was none,
// EISDIR for a folder).
int remove_file(const std::string& path);

// The names (not paths) of the regular files in `folder` ("" means the working
// directory), in no particular order; sub-folders are left out. Returns 0 or an
// errno value with `names` empty.
int list_files(const std::string& folder, std::vector<std::string>& names);

}  // namespace db_file
