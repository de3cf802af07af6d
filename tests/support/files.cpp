#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>

#include "platform/utf16.h"
#endif

TempDir::TempDir()
{
    static unsigned counter = 0;
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        fs::path candidate =
            fs::temp_directory_path() / ("glimkeep-test-" + std::to_string(ticks) + "-" + std::to_string(++counter));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Read-only files are made writable first so that Windows lets them go.
    for (const auto& entry : fs::recursive_directory_iterator(path_, ignored))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& name) const
{
    return narrow(path_ / name);
}

std::vector<std::string> TempDir::names() const
{
    std::vector<std::string> result;
    for (const auto& entry : fs::directory_iterator(path_)) result.push_back(narrow(entry.path().filename()));
    std::sort(result.begin(), result.end());
    return result;
}

TempWorkingDir::TempWorkingDir() : previous_(fs::current_path())
{
    fs::current_path(path());
}

TempWorkingDir::~TempWorkingDir()
{
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

std::string narrow(const fs::path& path)
{
    return path.u8string();
}

std::string narrow(const std::wstring& text)
{
#ifdef _WIN32
    std::string result;
    utf16::to_utf8(text, result);
    return result;
#else
    return fs::path(text).u8string();
#endif
}

std::string source_file(const std::string& relative)
{
#ifdef _WIN32
    return std::string("Z:") + GLIMKEEP_SOURCE_DIR + "/" + relative;
#else
    return std::string(GLIMKEEP_SOURCE_DIR) + "/" + relative;
#endif
}

std::string read_file(const std::string& path)
{
    std::ifstream in(fs::u8path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes read_bytes(const std::string& path)
{
    const std::string bytes = read_file(path);
    return Bytes(bytes.begin(), bytes.end());
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

void write_file(const std::string& path, const Bytes& bytes)
{
    write_file(path, std::string(bytes.begin(), bytes.end()));
}

Bytes bytes_of(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

void set_read_only(const std::string& path, bool read_only)
{
    const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(fs::u8path(path), read_only ? write : fs::perms::owner_write,
                    read_only ? fs::perm_options::remove : fs::perm_options::add);
}

std::string escaped(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string escaped(const std::wstring& text)
{
    return escaped(narrow(text));
}

std::string join(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}
