#pragma once
// The vault container: the in-memory image of "passwords.gkv".
//
// File format 1.0 (all integers big-endian, no padding):
//   offset  size    field
//        0    10    magic "GLIMKEEPDB"
//       10     3    version "1.0" (major digit, '.', minor digit)
//       13    32    salt   (PBKDF2 salt)
//       45    12    nonce  (counter-block nonce)
//       57    32    mac    (hmac_sha3_256 of the ciphertext under the derived key)
//       89     4    length of the ciphertext
//       93  length  ciphertext; any bytes after it are ignored
// Its counter block never advances, so the data is in effect XORed with one repeating
// 16-byte block: 1.0 is read and written unchanged for existing vaults only.
//
// File format 2.0:
//        0    10    magic "GLIMKEEPDB"
//       10     3    version "2.0"
//       13     4    iterations (PBKDF2 iteration count, 1 to 10,000,000)
//       17    32    salt
//       49    12    nonce
//       61    32    mac
//       93     4    length of the ciphertext
//       97  length  ciphertext; any bytes after it are ignored
// Keys: pbkdf2_hmac_sha3_256(password, salt, iterations) gives 64 bytes, the AES-256
// key (0-31) and the MAC key (32-63). Cipher: ctr_crypt_sp800 with the nonce. MAC:
// hmac_sha3_256_fips under the MAC key over file bytes 0-60, 93-96 and the ciphertext.
//
// Every operation that can fail returns one of the status codes below and keeps a
// fixed English text that last_error() returns. The container owns its data and
// password buffers and wipes them before releasing them.

#include "crypto/keyed.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace db_file {
enum class Placement;  // db/file_io.h
}

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

// The container draws its salts and nonces through db_random_bytes and derives the
// format 1.0 key through db_pbkdf2. They point at random_bytes and pbkdf2
// (crypto/keyed.h); only the fault tests point them elsewhere, to make the random
// source throw or the key derivation fail, which no file can cause.
extern decltype(&random_bytes) db_random_bytes;
extern decltype(&pbkdf2) db_pbkdf2;

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
inline constexpr std::size_t kIterationsSize = 4;
inline constexpr std::size_t kHeaderSize2 = 97;
// The count the program writes into new 2.0 vaults, and the largest it accepts.
inline constexpr std::uint32_t kPbkdf2Iterations2 = 600000;
inline constexpr std::uint32_t kMaxPbkdf2Iterations2 = 10000000;

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
    // Replaces the password copy (length 0 gives a present, empty password) and drops
    // the keys kept from the old one, so the next 2.0 save draws a new salt and derives
    // keys of the new password. Both copies wipe the old buffer first; on
    // std::bad_alloc the field is absent.
    void set_password(const char* bytes, std::uint32_t length);
    // Replaces the data with a copy of the bytes and marks it as plaintext.
    void set_plaintext(const char* bytes, std::uint32_t length);
    // A copy of the data when it holds plaintext; otherwise empty.
    std::string plaintext() const;
    // The text of the last failure; empty before the first.
    std::string last_error() const;
    // Zero, release and forget the buffer (nothing happens when it is absent).
    void wipe_data();
    // Also wipes the session keys of format 2.0.
    void wipe_password();

    // True when the next save writes format 1.0 (a loaded 1.0 vault); a Database that
    // never loaded a file, or that loaded 2.0, saves as 2.0.
    bool legacy_format() const;
    // The next save writes format 2.0 (a no-op for a 2.0 vault). It takes effect when
    // the data is next encrypted: ciphertext held from a 1.0 file is written back as 1.0.
    void upgrade_format();

    // The format 1.0 operations:
    // PBKDF2 (500 iterations of hmac_sha3_256) of the password and salt into `key`;
    // DB_NO_PASSWORD without a password, DB_KDF_FAILED when pbkdf2 fails.
    int derive_key(std::uint8_t key[32]);
    // Compares the MAC of the data under `key` with `mac`, in constant time:
    // every byte is compared whichever differ. DB_WRONG_PASSWORD on a mismatch.
    int verify_mac(const std::uint8_t key[32]);
    // ctr_crypt over the data, in place, with `nonce`.
    void ctr_transform(const std::uint8_t key[32]);
    // Plaintext -> ciphertext; sets mac. Format 1.0: fresh salt and nonce, key derived
    // anew. Format 2.0: a fresh nonce every time; the salt and keys of the session
    // (from the decryption, when the file's count is new_key_iterations, or from the
    // previous encryption under this password) are kept, else a fresh salt and keys
    // derived with new_key_iterations. A failing random
    // source is DB_RANDOM_FAILED (the data stays plaintext), never an exception.
    int encrypt();
    // Checks the MAC (in constant time, before any byte is decrypted), then
    // ciphertext -> plaintext. A failure changes nothing. In format 2.0 the keys are
    // kept for the session's saves.
    int decrypt();
    // Encrypts first when the data is plaintext, then writes the whole file. The new
    // file is written beside the old one, flushed to the disk and only then put in
    // its place: a failed save leaves the previous file as it was and no other file.
    // Errors: the system's text when the target cannot be written or replaced (a
    // read-only file is "Permission denied"), "Cannot write to file" when writing or
    // flushing fails. On Windows a vault that another handle holds open without
    // delete sharing cannot be replaced, so readers must close it before a save.
    int save(const std::string& path);
    // A save that only creates: when anything has the name `path`, also a file that
    // appears while the vault is encrypted and written, it is DB_IO_ERROR with the
    // system's "File exists" and that file stays as it was.
    int save_new(const std::string& path);

    bool decrypted = false;
    std::string error;
    // The version of the file loaded; 0.0 before a load. A 1.0 here makes the next
    // encryption write 1.0 (see legacy_format).
    std::uint8_t major_version = 0;
    std::uint8_t minor_version = 0;
    // Format 2.0: the iteration count of the file loaded (or of the last encryption),
    // and the count used when keys are derived for a fresh salt.
    std::uint32_t iterations = kPbkdf2Iterations2;
    std::uint32_t new_key_iterations = kPbkdf2Iterations2;
    std::uint8_t salt[kSaltSize] = {};
    std::uint8_t nonce[kNonceSize] = {};
    std::uint8_t mac[kMacSize] = {};
    std::uint32_t data_length = 0;
    std::unique_ptr<std::uint8_t[]> data;  // absent (null) or data_length bytes
    std::uint32_t password_length = 0;
    std::unique_ptr<std::uint8_t[]> password;  // absent (null) or password_length bytes

private:
    int load_file(const std::string& path);
    int save_placed(const std::string& path, db_file::Placement placement);
    int save_file(const std::string& path, db_file::Placement placement);
    int encrypt2();
    int decrypt2();
    // pbkdf2_hmac_sha3_256 of the password, salt and iterations into `keys` (64 bytes).
    int derive_keys2(std::uint8_t keys[64]);
    // The 2.0 MAC of header fields and data under `mac_key`.
    void compute_mac2(const std::uint8_t mac_key[32], std::uint8_t out[32]) const;
    // Forgets (and wipes) the session keys.
    void drop_session_keys();

    // The format of the ciphertext held (and of the header fields): what a save of
    // data that is not plaintext writes. True for 1.0.
    bool ciphertext_legacy_ = false;
    // Format 2.0 session keys: the encryption and MAC keys derived from the password,
    // `salt` and `iterations`; valid while session_keys_valid_.
    bool session_keys_valid_ = false;
    std::uint8_t session_keys_[64] = {};
};
