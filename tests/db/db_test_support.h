#pragma once
// Helpers shared by the vault tests: scratch folders, whole-file reads and
// writes, hand-made vault images, hex output for failures, and a probe that
// records the largest allocation made through operator new.

#include "db/database.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dbtest {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// A fresh, empty folder under the system's temporary folder; removed with
// everything in it when the object goes.
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

std::string narrow(const fs::path& path);
// A path in the source tree; under Wine the Linux root is drive Z:.
std::string source_file(const std::string& relative);

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);
Bytes bytes_of(const std::string& text);
std::string hex(const std::uint8_t* bytes, std::size_t size);
std::string hex(const Bytes& bytes);

// A container that saves format 1.0, as one that loaded a 1.0 vault does: the 1.0
// tests start from it (a new Database saves 2.0).
struct Database10 : Database {
    Database10() {
        major_version = 1;
        minor_version = 0;
    }
};

// A vault image from its fields; `length` defaults to the ciphertext's size.
Bytes vault_image(const std::string& magic, const std::string& version, const Bytes& salt,
                  const Bytes& nonce, const Bytes& mac, const Bytes& ciphertext);
Bytes vault_image_with_length(std::uint32_t length, const Bytes& ciphertext);

// Encrypts `plaintext` under `password` and saves it to `path` as format 1.0;
// asserts success.
void make_vault(const std::string& path, const std::string& password, const std::string& plaintext);

// Marks a file read-only (Windows: the read-only attribute) or writable again.
void set_read_only(const std::string& path, bool read_only);

// Largest single allocation through operator new / new[] while armed; it can
// also make every allocation of at least `size` bytes fail, as on a machine
// that has run out of memory.
struct AllocationProbe {
    AllocationProbe();
    ~AllocationProbe();
    std::size_t largest() const;
    void fail_from(std::size_t size);
};

}  // namespace dbtest

#define EXPECT_BYTES_EQ(expected, actual) \
    EXPECT_EQ(::dbtest::hex(expected), ::dbtest::hex(actual))
