// File access for Linux and other POSIX systems: the new vault is written to a
// unique file beside the target, fsync'ed, and renamed over the target (or linked
// to its name when nothing may be replaced).

#include "platform/file_io.h"

#include "platform/write_all.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace db_file {
namespace {

std::string folder_of(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes the rename itself durable; a folder that cannot be synced changes nothing
// about the outcome, since the new file is complete on the disk either way.
void sync_folder(const std::string& path)
{
    int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Reads up to `size` bytes, resuming after interruptions; -1 on an error.
ssize_t read_some(int fd, std::uint8_t* bytes, std::size_t size)
{
    for (;;) {
        ssize_t n = ::read(fd, bytes, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// Gives the finished file `temp` the name `path` only while nothing has that name:
// link() fails with EEXIST where rename() would replace. A file system without
// hard links gets a rename after one more look, which leaves only that instant open.
// Returns 0 or an errno value; `temp` is gone either way.
int link_into_place(const char* temp, const std::string& path)
{
    int error_number = 0;
    if (::link(temp, path.c_str()) != 0) {
        error_number = errno;
        const bool no_hard_links =
            error_number == EPERM || error_number == EOPNOTSUPP || error_number == EMLINK || error_number == ENOSYS;
        struct stat st;
        if (no_hard_links) {
            if (::lstat(path.c_str(), &st) == 0)
                error_number = EEXIST;
            else if (::rename(temp, path.c_str()) == 0)
                return 0;
            else
                error_number = errno;
        }
    }
    ::unlink(temp);
    return error_number;
}

}  // namespace

std::FILE* open_for_reading(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return nullptr;
    struct stat st;
    if (::fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

bool size_of(std::FILE* file, std::uint64_t& size)
{
    struct stat st;
    if (::fstat(fileno(file), &st) != 0) return false;
    if (st.st_size < 0) {
        errno = EINVAL;
        return false;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool read_at(std::FILE* file, std::uint64_t offset, void* out, std::size_t size, std::size_t& got)
{
    got = 0;
    const int fd = fileno(file);
    while (got < size) {
        const ssize_t n = ::pread(fd, static_cast<char*>(out) + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool is_folder(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int copy_to_new_file(const std::string& source, const std::string& target)
{
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno == ENOENT ? kNoSource : errno;
    struct stat st;
    if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        int error_number = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(in);
        return error_number;
    }
    // O_EXCL: an existing name, even a dangling symbolic link, is never written through.
    int out =
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO));
    if (out < 0) {
        int error_number = errno;
        ::close(in);
        return error_number;
    }
    int error_number = 0;
    std::uint8_t buffer[65536];
    for (;;) {
        ssize_t n = read_some(in, buffer, sizeof buffer);
        if (n < 0) {
            error_number = errno;
            break;
        }
        if (n == 0) break;
        if (!write_all(out, buffer, static_cast<std::size_t>(n))) {
            error_number = errno ? errno : EIO;
            break;
        }
    }
    if (error_number == 0 && ::fsync(out) != 0) error_number = errno;
    if (::close(out) != 0 && error_number == 0) error_number = errno;
    ::close(in);
    if (error_number != 0) {
        ::unlink(target.c_str());
        return error_number;
    }
    sync_folder(target);
    return 0;
}

int erase_file(const std::string& path, const std::string& keep, Erased& how)
{
    how = Erased::kNameOnly;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISREG(st.st_mode)) {
        // O_NOFOLLOW: the name was a regular file a moment ago; a link put there
        // since is not written through.
        int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return errno;
        int error_number = 0;
        struct stat opened;
        struct stat kept;
        if (::fstat(fd, &opened) != 0) error_number = errno;
        const bool shared = error_number == 0 &&
            (opened.st_nlink != 1 ||
             (!keep.empty() && ::stat(keep.c_str(), &kept) == 0 && kept.st_dev == opened.st_dev &&
              kept.st_ino == opened.st_ino));
        if (error_number == 0 && !shared) {
            std::uint8_t zeros[65536];
            std::memset(zeros, 0, sizeof zeros);
            std::uint64_t left = static_cast<std::uint64_t>(opened.st_size);
            while (error_number == 0 && left > 0) {
                const std::size_t chunk = left < sizeof zeros ? static_cast<std::size_t>(left) : sizeof zeros;
                if (!write_all(fd, zeros, chunk)) error_number = errno ? errno : EIO;
                left -= chunk;
            }
            if (error_number == 0 && ::fsync(fd) != 0) error_number = errno;
            if (error_number == 0) how = Erased::kZeroed;
        }
        ::close(fd);
        if (error_number != 0) return error_number;
    }
    if (::unlink(path.c_str()) != 0) return errno;
    sync_folder(path);
    return 0;
}

int erase_file(const std::string& path)
{
    Erased how;
    return erase_file(path, std::string(), how);
}

int remove_file(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (::unlink(path.c_str()) != 0) return errno;
    sync_folder(path);
    return 0;
}

int list_files(const std::string& folder, std::vector<std::string>& names)
{
    names.clear();
    const std::string base = folder.empty() ? std::string(".") : folder;
    DIR* dir = ::opendir(base.c_str());
    if (!dir) return errno;
    for (;;) {
        errno = 0;
        struct dirent* entry = ::readdir(dir);
        if (!entry) break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (::stat((base + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
    }
    int error_number = errno;
    ::closedir(dir);
    if (error_number != 0) names.clear();
    return error_number;
}

WriteOutcome replace_file(const std::string& link_or_path, const std::uint8_t* head, std::size_t head_size,
                          const std::uint8_t* body, std::size_t body_size, Placement placement)
{
    // A symbolic link stays a link: the file it names is the one replaced.
    std::string path = link_or_path;
    struct stat link_st;
    const bool name_taken = ::lstat(path.c_str(), &link_st) == 0;
    if (placement == Placement::kCreateNew && name_taken) return failed(WriteOutcome::kOpenFailed, EEXIST);
    if (name_taken && S_ISLNK(link_st.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved) {
            path = resolved;
            std::free(resolved);
        }
    }

    // The target as it is now: its mode carries over to the new file. A target
    // without any write permission is refused as read-only even for root, who
    // could otherwise replace it.
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return failed(WriteOutcome::kOpenFailed, EISDIR);
        if (::access(path.c_str(), W_OK) != 0) return failed(WriteOutcome::kOpenFailed, errno);
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return failed(WriteOutcome::kOpenFailed, EACCES);
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return failed(WriteOutcome::kOpenFailed, errno);
    }

    std::string name = path + ".tmp-XXXXXX";
    std::vector<char> temp(name.begin(), name.end());
    temp.push_back('\0');
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return failed(WriteOutcome::kOpenFailed, errno);
    ::fchmod(fd, mode);

    bool written = write_all(fd, head, head_size) && write_all(fd, body, body_size) && ::fsync(fd) == 0;
    if (::close(fd) != 0) written = false;
    if (!written) {
        ::unlink(temp.data());
        return failed(WriteOutcome::kWriteFailed, 0);
    }
    if (placement == Placement::kCreateNew) {
        if (int error_number = link_into_place(temp.data(), path))
            return failed(WriteOutcome::kReplaceFailed, error_number);
    } else if (::rename(temp.data(), path.c_str()) != 0) {
        int error_number = errno;
        ::unlink(temp.data());
        return failed(WriteOutcome::kReplaceFailed, error_number);
    }
    sync_folder(path);
    return WriteOutcome();
}

}  // namespace db_file
