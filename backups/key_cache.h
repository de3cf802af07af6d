#pragma once
// Opening many backups of one password: backups written under one password share
// the salt and iteration count of format 2.0 until the password changes, so the
// keys are derived once per pair and reused. Format 1.0 derives its key with 500
// iterations per file and needs no cache.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/wipe.h"
#include "db/format.h"

class Database;

class KeyCache {
public:
    // Keeps a copy of the password (wiped when the cache goes).
    KeyCache(const char* password, std::uint32_t length);
    ~KeyCache();  // wipes the password and every key
    KeyCache(const KeyCache&) = delete;
    KeyCache& operator=(const KeyCache&) = delete;

    // Decrypts the file loaded into `db` (ciphertext of either format) with this
    // password: format 2.0 with the keys of its salt and count, derived the first
    // time they are seen; format 1.0 through the container. The vault's status code.
    int decrypt(Database& db);

    // How many times keys of format 2.0 were derived.
    std::size_t derivations() const { return derivations_; }

private:
    struct Entry {
        std::uint8_t salt[kSaltSize];
        std::uint32_t iterations;
        std::uint8_t keys[format_v2::kKeysSize];
    };

    SecretString password_;
    std::vector<Entry> entries_;
    std::size_t derivations_ = 0;
};
