#pragma once
// The vault container: the in-memory image of "passwords.gkv" (the formats are in
// db/format.h).
//
// Every operation that can fail returns one of the status codes below and keeps a
// fixed English text that last_error() returns. The container owns its data and
// password buffers and wipes them before releasing them; its state is its own, and
// the operations that write the vault under a new password or format put all of it
// back when they fail.

#include "crypto/keyed.h"
#include "db/format.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace db_file {
enum class Placement;  // platform/file_io.h
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
// format 1.0 key through db_pbkdf2. They point at random_bytes and format_v1::pbkdf2
// (crypto/keyed.h); only the fault tests point them elsewhere, to make the random
// source throw or the key derivation fail, which no file can cause.
extern decltype(&random_bytes) db_random_bytes;
extern decltype(&format_v1::pbkdf2) db_pbkdf2;

// The vault's file name, relative to the working directory.
inline constexpr char kDatabaseFileName[] = "passwords.gkv";

class Database {
public:
    Database() = default;
    ~Database();  // wipe_password(), then wipe_data()
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Replaces header fields and data with the file's contents; the password stays.
    // A length field beyond the file's end is refused before anything is allocated;
    // running out of memory is status 1 "Not enough memory to load the file". A 2.0
    // file longer than its header and ciphertext is status 2. The format a save
    // writes follows the file, but never goes below 2.0 once this container loaded or
    // wrote a 2.0 vault: a 1.0 file put in its place is saved as 2.0.
    int load(const std::string& path);
    // Loads the file at `path` and decrypts it, with `bytes` as the password when not
    // null (else the password held; without one, the session keys, which open only a
    // file of their salt and iteration count: another is DB_WRONG_PASSWORD). On any failure the container is as it was:
    // data, password, keys, header and format, so that a file that does not open
    // leaves nothing of itself behind (not its format, nor its iteration count).
    int reopen(const std::string& path, const char* bytes = nullptr, std::uint32_t length = 0);
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

    // What the container holds, read-only.
    bool decrypted() const { return decrypted_; }  // the data is plaintext
    std::uint8_t major_version() const { return header_.major_version; }  // of the file loaded; 0 before
    std::uint8_t minor_version() const { return header_.minor_version; }
    std::uint32_t iterations() const { return header_.iterations; }  // 2.0: of the file or the last encryption
    const std::uint8_t* salt() const { return header_.salt; }
    const std::uint8_t* nonce() const { return header_.nonce; }
    const std::uint8_t* mac() const { return header_.mac; }
    const std::uint8_t* data() const { return data_.get(); }  // null when absent
    std::uint32_t data_length() const { return data_length_; }
    bool has_password() const { return password_ != nullptr; }
    // True when `bytes` is the password held (compared in constant time for equal lengths).
    bool password_equals(const char* bytes, std::uint32_t length) const;

    // True when the next save writes format 1.0 (a loaded 1.0 vault); a Database that
    // never loaded a file, or that loaded 2.0, saves as 2.0.
    bool legacy_format() const;
    // The next encryption writes format 1.0, as after loading a 1.0 vault: for the
    // tools and tests that make vaults of the old format.
    void write_legacy_format();
    // The next encryption writes format 2.0, whatever was loaded: a vault that another
    // program wrote back as 1.0 is not taken back to it by a merge.
    void write_current_format();
    // The iteration count for keys derived with a fresh salt (the program's 600,000
    // unless a test asks for fewer). A vault loaded with a larger count keeps it.
    void set_new_key_iterations(std::uint32_t iterations);

    // The format 1.0 steps:
    // PBKDF2 (500 iterations of format_v1::hmac_sha3_256) of the password and salt
    // into `key`; DB_NO_PASSWORD without a password, DB_KDF_FAILED when pbkdf2 fails.
    int derive_key(std::uint8_t key[32]);
    // Compares the MAC of the data under `key` with `mac`, in constant time:
    // every byte is compared whichever differ. DB_WRONG_PASSWORD on a mismatch.
    int verify_mac(const std::uint8_t key[32]);
    // format_v1::ctr_crypt over the data, in place, with `nonce`.
    void ctr_transform(const std::uint8_t key[32]);

    // Plaintext -> ciphertext; sets mac. Format 1.0: fresh salt and nonce, key derived
    // anew. Format 2.0: a fresh nonce every time; the salt and keys of the session
    // (from the decryption, or from the previous encryption under this password) are
    // kept, else a fresh salt and keys derived with the larger of the new-key count
    // and the loaded file's count. A failing random source is DB_RANDOM_FAILED (the
    // data stays plaintext), never an exception.
    int encrypt();
    // Checks the MAC (in constant time, before any byte is decrypted), then
    // ciphertext -> plaintext. A failure changes nothing. In format 2.0 the keys are
    // kept for the session's saves.
    int decrypt();
    // decrypt() of format 2.0 ciphertext with keys derived elsewhere: the 64 bytes of
    // pbkdf2_hmac_sha3_256 of the password with salt() and iterations(), for readers
    // that open many files of one password and derive each pair of salt and count
    // once. The keys are kept for saves as decrypt() keeps its own. Format 1.0
    // ciphertext is DB_BAD_VERSION; a failure changes nothing.
    int decrypt_with_keys(const std::uint8_t keys[format_v2::kKeysSize]);
    // Copies the format 2.0 session keys (of salt() and iterations()) into `keys`: false,
    // and `keys` untouched, when none are held (format 1.0, or no decryption or
    // encryption since the password was set). The caller wipes its copy.
    bool copy_session_keys(std::uint8_t keys[format_v2::kKeysSize]) const;
    // Takes `bytes` as the password when it derives the session keys held (with salt()
    // and iterations()): the keys stay. DB_WRONG_PASSWORD when it does not, DB_NO_PASSWORD
    // without keys; the container is then as it was. Throws std::bad_alloc.
    int take_password_of_keys(const char* bytes, std::uint32_t length);
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

    // Saves the text held under a new password (the format stays); ciphertext held is
    // decrypted with the old password first. On failure the container is as it was:
    // the old password, keys and header.
    int change_password(const std::string& path, const char* bytes, std::uint32_t length);
    // Saves the plaintext held as format 2.0, under a new password when `bytes` is not
    // null (else under the password held). On failure the container is as it was,
    // format included.
    int upgrade(const std::string& path, const char* bytes = nullptr, std::uint32_t length = 0);

private:
    struct Snapshot;
    int load_file(const std::string& path);
    int save_placed(const std::string& path, db_file::Placement placement);
    int save_file(const std::string& path, db_file::Placement placement);
    int encrypt_v2();
    int decrypt_v2();
    int decrypt_v2_with(const std::uint8_t keys[format_v2::kKeysSize]);
    // pbkdf2_hmac_sha3_256 of the password, salt and iterations into `keys` (64 bytes).
    int derive_keys_v2(std::uint8_t keys[format_v2::kKeysSize]);
    // Forgets (and wipes) the session keys.
    void drop_session_keys();
    int fail(int status, const char* text);
    void take(Snapshot& snapshot);
    void restore(Snapshot& snapshot);
    template <typename Write>
    int transaction(Write write);

    bool decrypted_ = false;
    std::string error_;
    // The header of the file loaded, or of the last encryption.
    FileHeader header_;
    std::uint32_t new_key_iterations_ = format_v2::kIterations;
    // The iteration count of the 2.0 file loaded (0 when none): saves never lower it.
    std::uint32_t loaded_iterations_ = 0;
    // The format the next encryption writes: true for 1.0.
    bool write_legacy_ = false;
    // A 2.0 vault was loaded or written: later loads do not take the format back.
    bool held_current_format_ = false;
    // The format of the ciphertext held (and of the header fields): what a save of
    // data that is not plaintext writes. True for 1.0.
    bool ciphertext_legacy_ = false;
    std::uint32_t data_length_ = 0;
    std::unique_ptr<std::uint8_t[]> data_;  // absent (null) or data_length_ bytes
    std::uint32_t password_length_ = 0;
    std::unique_ptr<std::uint8_t[]> password_;  // absent (null) or password_length_ bytes
    // Format 2.0 session keys: the encryption and MAC keys derived from the password,
    // salt and iterations; valid while session_keys_valid_.
    bool session_keys_valid_ = false;
    std::uint8_t session_keys_[format_v2::kKeysSize] = {};
};
