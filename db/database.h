#pragma once
// The vault container: the in-memory image of "passwords.gkv".
//
// File format (all integers big-endian, no padding):
//   offset  size    field
//        0    10    magic "GLIMKEEPDB"
//       10     3    version "1.0" (major digit, '.', minor digit)
//       13    32    salt   (PBKDF2 salt)
//       45    12    nonce  (counter-block nonce)
//       57    32    mac    (hmac_sha3_256 of the ciphertext under the derived key)
//       89     4    length of the ciphertext
//       93  length  ciphertext; any bytes after it are ignored
//
// Every operation that can fail returns one of the status codes below and keeps a
// fixed English text that last_error() returns. The container owns its data and
// password buffers and wipes them before releasing them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum : int {
    DB_OK = 0,
    DB_IO_ERROR = 1,
    DB_BAD_FORMAT = 2,
    DB_BAD_VERSION = 3,
    DB_NO_DATA = 4,
    DB_KDF_FAILED = 5,
    DB_ALREADY_DECRYPTED = 6,
    DB_ALREADY_ENCRYPTED = 7,
    DB_NO_PASSWORD = 8,
    DB_WRONG_PASSWORD = 9,
    // The operating system's random generator failed while drawing salt and nonce.
    DB_RANDOM_FAILED = 10,
};

// The vault's file name, relative to the working directory.
inline constexpr char kDatabaseFileName[] = "passwords.gkv";

inline constexpr std::size_t kMagicSize = 10;
inline constexpr std::size_t kVersionSize = 3;
inline constexpr std::size_t kSaltSize = 32;
inline constexpr std::size_t kNonceSize = 12;
inline constexpr std::size_t kMacSize = 32;
inline constexpr std::size_t kKeySize = 32;
inline constexpr std::size_t kHeaderSize = 93;
inline constexpr std::uint32_t kPbkdf2Iterations = 500;

class Database {
public:
    Database() = default;
    ~Database();  // wipe_password(), then wipe_data()
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Replaces header fields and data with the file's contents; the password stays.
    // A length field beyond the file's end is refused before anything is allocated;
    // running out of memory is status 1 "Not enough memory to load the file".
    int load(const std::string& path);
    // Replaces the password copy (length 0 gives a present, empty password).
    // Both copies wipe the old buffer first; on std::bad_alloc the field is absent.
    void set_password(const char* bytes, std::uint32_t length);
    // Replaces the data with a copy of the bytes and marks it as plaintext.
    void set_plaintext(const char* bytes, std::uint32_t length);
    // A copy of the data when it holds plaintext; otherwise empty.
    std::string plaintext() const;
    // The text of the last failure; empty before the first.
    std::string last_error() const;
    // Zero, release and forget the buffer (nothing happens when it is absent).
    void wipe_data();
    void wipe_password();

    // PBKDF2 (500 iterations of hmac_sha3_256) of the password and salt into `key`;
    // DB_NO_PASSWORD without a password, DB_KDF_FAILED when pbkdf2 fails.
    int derive_key(std::uint8_t key[32]);
    // Compares the MAC of the data under `key` with `mac`, in constant time:
    // every byte is compared whichever differ. DB_WRONG_PASSWORD on a mismatch.
    int verify_mac(const std::uint8_t key[32]);
    // ctr_crypt over the data, in place, with `nonce`.
    void ctr_transform(const std::uint8_t key[32]);
    // Plaintext -> ciphertext with fresh salt and nonce; sets mac. A failing random
    // source is DB_RANDOM_FAILED (the data stays plaintext), never an exception.
    int encrypt();
    // Checks the MAC, then ciphertext -> plaintext. A failure changes nothing.
    int decrypt();
    // Encrypts first when the data is plaintext, then writes the whole file. The new
    // file is written beside the old one, flushed to the disk and only then put in
    // its place: a failed save leaves the previous file as it was and no other file.
    // Errors: the system's text when the target cannot be written or replaced (a
    // read-only file is "Permission denied"), "Cannot write to file" when writing or
    // flushing fails. On Windows a vault that another handle holds open without
    // delete sharing cannot be replaced, so readers must close it before a save.
    int save(const std::string& path);

    bool decrypted = false;
    std::string error;
    std::uint8_t major_version = 0;
    std::uint8_t minor_version = 0;
    std::uint8_t salt[kSaltSize] = {};
    std::uint8_t nonce[kNonceSize] = {};
    std::uint8_t mac[kMacSize] = {};
    std::uint32_t data_length = 0;
    std::unique_ptr<std::uint8_t[]> data;      // absent (null) or data_length bytes
    std::uint32_t password_length = 0;
    std::unique_ptr<std::uint8_t[]> password;  // absent (null) or password_length bytes

private:
    int load_file(const std::string& path);
    int save_file(const std::string& path);
};
