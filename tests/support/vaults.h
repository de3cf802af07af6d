#pragma once
// Vaults for the tests: hand-made vault images, and vaults written and opened
// through the container.

#include "db/database.h"
#include "tests/support/files.h"

#include <cstdint>
#include <string>

// A container that saves format 1.0, as one that loaded a 1.0 vault does: the 1.0
// tests start from it (a new Database saves 2.0).
struct Database10 : Database {
    Database10() { write_legacy_format(); }
};

// A 1.0 vault image from its fields; `length` defaults to the ciphertext's size.
Bytes vault_image(const std::string& magic, const std::string& version, const Bytes& salt, const Bytes& nonce,
                  const Bytes& mac, const Bytes& ciphertext);
Bytes vault_image_with_length(std::uint32_t length, const Bytes& ciphertext);

// Encrypts `plaintext` under `password` and saves it to `path` as format 1.0;
// asserts success.
void make_vault(const std::string& path, const std::string& password, const std::string& plaintext);

// Key-derivation iterations of the format 2.0 test vaults: few, so that the tests
// stay fast; open_vault keeps the keys for the saves, as the program does.
inline constexpr std::uint32_t kTestIterations = 1000;

// The vault the program uses (kDatabaseFileName in the working directory):
// writes `plaintext` encrypted with `password` as format 2.0 (with the program's
// own iteration count when asked); false on failure.
bool write_vault(const std::string& plaintext, const std::string& password, std::uint32_t iterations = kTestIterations);
// Opens that vault with `password` into `db` (load and decrypt); false on failure.
bool open_vault(Database& db, const std::string& password);
// The same for the vault at `path`.
bool open_vault_at(Database& db, const std::string& path, const std::string& password);
// The plaintext of the vault at `path`, or "<does not open>".
std::string plaintext_of(const std::string& path, const std::string& password);
