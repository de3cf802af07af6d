#pragma once
// Files, folders and texts for the tests: scratch folders, whole-file reads and
// writes, paths into the source tree, UTF-16 to UTF-8, and texts escaped so that
// they read well in failure messages.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// A fresh, empty folder under the system's temporary folder; removed with
// everything in it (read-only files too) when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    // The narrow (UTF-8) path of a file in the folder, as the container takes it.
    std::string file(const std::string& name) const;
    // The names of everything in the folder, sorted.
    std::vector<std::string> names() const;

private:
    fs::path path_;
};

// A TempDir that is the working directory while it lives (the program under test
// reads and writes its vault in the working directory).
class TempWorkingDir : public TempDir {
public:
    TempWorkingDir();
    ~TempWorkingDir();

private:
    fs::path previous_;
};

// UTF-8 of a path or of UTF-16 text.
std::string narrow(const fs::path& path);
std::string narrow(const std::wstring& text);
inline std::string narrow(const wchar_t* text)
{
    return narrow(std::wstring(text));
}
// A path in the source tree; under Wine the Linux root is drive Z:.
std::string source_file(const std::string& relative);

// A whole file ("" / no bytes when it cannot be read); writing one (a failure is a
// test failure).
std::string read_file(const std::string& path);
Bytes read_bytes(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
void write_file(const std::string& path, const Bytes& bytes);
Bytes bytes_of(const std::string& text);

// Marks a file read-only (Windows: the read-only attribute) or writable again.
void set_read_only(const std::string& path, bool read_only);

// Bytes as C-like text: printable ASCII stays, everything else is \t, \r, \n or \xNN.
std::string escaped(const std::string& bytes);
std::string escaped(const std::wstring& text);
// The lines, each ended by a line feed.
std::string join(const std::vector<std::string>& lines);
