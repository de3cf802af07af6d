#include "db/database.h"

#include "crypto/bytes.h"
#include "crypto/keyed.h"
#include "crypto/wipe.h"
#include "db/file_io.h"

#include <cerrno>
#include <cstring>
#include <new>

decltype(&random_bytes) db_random_bytes = &random_bytes;
decltype(&pbkdf2) db_pbkdf2 = &pbkdf2;

namespace {

constexpr char kMagic[kMagicSize + 1] = "GLIMKEEPDB";
constexpr char kVersionWritten[kVersionSize + 1] = "1.0";
constexpr char kVersionWritten2[kVersionSize + 1] = "2.0";
constexpr std::size_t kLengthOffset = kMagicSize + kVersionSize + kSaltSize + kNonceSize + kMacSize;
static_assert(kLengthOffset + 4 == kHeaderSize, "header layout");
// Format 2.0: the MAC covers bytes 0 to 60 (up to the nonce) and 93 to 96 (the length).
constexpr std::size_t kMacOffset2 = kMagicSize + kVersionSize + kIterationsSize + kSaltSize + kNonceSize;
static_assert(kMacOffset2 == 61 && kMacOffset2 + kMacSize + 4 == kHeaderSize2, "header layout 2.0");
constexpr std::size_t kSessionKeysSize = 2 * kKeySize;  // encryption key, then MAC key

constexpr char kTextInsufficientSize[] = "File has insufficient size (file corrupted?)";
constexpr char kTextNotDatabase[] = "This file is not database file for this program";
constexpr char kTextBadVersion[] = "Unsupported file version";
constexpr char kTextCannotReadHeader[] = "Cannot read file header";
constexpr char kTextCannotReadCiphertext[] = "Cannot read ciphertext from file (file corrupted?)";
constexpr char kTextOutOfMemory[] = "Not enough memory to load the file";
constexpr char kTextSaveOutOfMemory[] = "Not enough memory to save the file";
constexpr char kTextCannotWrite[] = "Cannot write to file";
constexpr char kTextNoData[] = "No data loaded";
constexpr char kTextKdfFailed[] = "Password based key derivation function failed";
constexpr char kTextAlreadyDecrypted[] = "The file is already decrypted";
constexpr char kTextAlreadyEncrypted[] = "The file is already encrypted";
constexpr char kTextNoPassword[] = "No password given";
constexpr char kTextWrongPassword[] = "This file was not encrypted with the given password";
constexpr char kTextRandomFailed[] = "The random number generator failed";

bool is_digit(std::uint8_t c)
{
    return c >= '0' && c <= '9';
}

// Reads exactly `size` bytes; false on a short read or a read error.
bool read_exactly(std::FILE* file, void* out, std::size_t size)
{
    return size == 0 || std::fread(out, 1, size, file) == size;
}

// The standard description of an errno value; a failure that left no number
// (which the C library does not promise) still gets an input/output text.
std::string describe_errno(int error_number)
{
    return std::strerror(error_number != 0 ? error_number : EIO);
}

// Closes the file on every return of load().
class FileCloser {
public:
    explicit FileCloser(std::FILE* file) noexcept : file_(file) {}
    ~FileCloser() { std::fclose(file_); }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    std::FILE* file_;
};

// Same run time whichever bytes differ: every byte is looked at, and the
// differences are only accumulated.
bool equal_in_constant_time(const std::uint8_t* a, const std::uint8_t* b, std::size_t size)
{
    volatile std::uint8_t difference = 0;
    for (std::size_t i = 0; i < size; ++i) difference = static_cast<std::uint8_t>(difference | (a[i] ^ b[i]));
    return difference == 0;
}

}  // namespace

Database::~Database()
{
    wipe_password();
    wipe_data();
}

void Database::wipe_data()
{
    if (data) {
        secure_wipe(data.get(), data_length);
        data.reset();
    }
    data_length = 0;
}

void Database::drop_session_keys()
{
    secure_wipe(session_keys_, sizeof session_keys_);
    session_keys_valid_ = false;
}

bool Database::legacy_format() const
{
    return major_version == 1 && minor_version == 0;
}

void Database::upgrade_format()
{
    if (!legacy_format()) return;
    major_version = 2;
    minor_version = 0;
}

void Database::wipe_password()
{
    drop_session_keys();
    if (password) {
        secure_wipe(password.get(), password_length);
        password.reset();
    }
    password_length = 0;
}

void Database::set_plaintext(const char* bytes, std::uint32_t length)
{
    wipe_data();
    // On std::bad_alloc the container is left empty, never with a length
    // that does not match its buffer.
    data.reset(new std::uint8_t[length]);
    if (length > 0) std::memcpy(data.get(), bytes, length);
    data_length = length;
    decrypted = true;
}

void Database::set_password(const char* bytes, std::uint32_t length)
{
    wipe_password();
    password.reset(new std::uint8_t[length]);
    if (length > 0) std::memcpy(password.get(), bytes, length);
    password_length = length;
}

std::string Database::plaintext() const
{
    if (!data || !decrypted) return std::string();
    return std::string(reinterpret_cast<const char*>(data.get()), data_length);
}

std::string Database::last_error() const
{
    return error;
}

int Database::load(const std::string& path)
{
    try {
        return load_file(path);
    } catch (const std::bad_alloc&) {
        // Only the path conversion and the error texts can still run out of memory
        // here (the data buffer is allocated without throwing), and the data is then
        // as the step that failed left it; report it like a buffer that could not be
        // allocated.
        try {
            error = kTextOutOfMemory;
        } catch (const std::bad_alloc&) {
            error.clear();
        }
        return DB_IO_ERROR;
    }
}

int Database::load_file(const std::string& path)
{
    errno = 0;
    std::FILE* file = db_file::open_for_reading(path);
    if (!file) {
        error = describe_errno(errno);
        return DB_IO_ERROR;
    }
    FileCloser closer(file);

    std::uint64_t size = 0;
    errno = 0;
    if (!db_file::size_of(file, size)) {
        error = describe_errno(errno);
        return DB_IO_ERROR;
    }
    if (size < kHeaderSize) {
        error = kTextInsufficientSize;
        return DB_BAD_FORMAT;
    }

    wipe_data();

    // The 1.0 header is read whole before any field is looked at; 2.0 has four more bytes.
    std::uint8_t header[kHeaderSize2];
    if (!read_exactly(file, header, kHeaderSize)) {
        error = kTextCannotReadHeader;
        return DB_IO_ERROR;
    }
    const std::uint8_t* const version = header + kMagicSize;
    if (std::memcmp(header, kMagic, kMagicSize) != 0 || version[1] != '.') {
        error = kTextNotDatabase;
        return DB_BAD_FORMAT;
    }
    if (!is_digit(version[0]) || !is_digit(version[2])) {
        error = kTextNotDatabase;
        return DB_BAD_FORMAT;
    }
    major_version = static_cast<std::uint8_t>(version[0] - '0');
    minor_version = static_cast<std::uint8_t>(version[2] - '0');
    const bool legacy = major_version == 1 && minor_version == 0;
    if (!legacy && !(major_version == 2 && minor_version == 0)) {
        error = kTextBadVersion;
        return DB_BAD_VERSION;
    }
    // New header fields: the keys kept for the old ones are void.
    drop_session_keys();
    const std::size_t header_size = legacy ? kHeaderSize : kHeaderSize2;
    if (!legacy) {
        if (size < kHeaderSize2) {
            error = kTextInsufficientSize;
            return DB_BAD_FORMAT;
        }
        if (!read_exactly(file, header + kHeaderSize, kHeaderSize2 - kHeaderSize)) {
            error = kTextCannotReadHeader;
            return DB_IO_ERROR;
        }
        // A hostile count must not make the program derive keys for hours.
        const std::uint32_t count = load32_be(header + kMagicSize + kVersionSize);
        if (count == 0 || count > kMaxPbkdf2Iterations2) {
            error = kTextNotDatabase;
            return DB_BAD_FORMAT;
        }
        iterations = count;
    }
    const std::uint8_t* p = header + kMagicSize + kVersionSize + (legacy ? 0 : kIterationsSize);
    std::memcpy(salt, p, kSaltSize);
    p += kSaltSize;
    std::memcpy(nonce, p, kNonceSize);
    p += kNonceSize;
    std::memcpy(mac, p, kMacSize);
    p += kMacSize;
    const std::uint8_t* const length_bytes = p;

    // The length is checked against the file before anything is allocated, so a
    // hostile length field never costs more memory than the file holds.
    std::uint32_t length = load32_be(length_bytes);
    if (length > size - header_size) {
        error = kTextCannotReadCiphertext;
        return DB_IO_ERROR;
    }
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[length]);
    if (!buffer) {
        error = kTextOutOfMemory;
        return DB_IO_ERROR;
    }
    data = std::move(buffer);
    data_length = length;
    if (!read_exactly(file, data.get(), length)) {
        wipe_data();
        error = kTextCannotReadCiphertext;
        return DB_IO_ERROR;
    }

    decrypted = false;
    ciphertext_legacy_ = legacy;
    return DB_OK;
}

int Database::derive_key(std::uint8_t key[32])
{
    if (!password) {
        error = kTextNoPassword;
        return DB_NO_PASSWORD;
    }
    std::memset(key, 0, kKeySize);
    if (db_pbkdf2(password.get(), password_length, salt, kSaltSize, key, kKeySize, kPbkdf2Iterations, hmac_sha3_256,
                  kKeySize) != 0) {
        error = kTextKdfFailed;
        return DB_KDF_FAILED;
    }
    return DB_OK;
}

int Database::verify_mac(const std::uint8_t key[32])
{
    std::uint8_t tag[kMacSize];
    WipeOnExit wipe_tag(tag, sizeof tag);
    hmac_sha3_256(data.get(), data_length, key, kKeySize, tag);
    if (!equal_in_constant_time(tag, mac, kMacSize)) {
        error = kTextWrongPassword;
        return DB_WRONG_PASSWORD;
    }
    return DB_OK;
}

void Database::ctr_transform(const std::uint8_t key[32])
{
    ctr_crypt(data.get(), data_length, key, nonce, data.get());
}

int Database::encrypt()
{
    if (!data) {
        error = kTextNoData;
        return DB_NO_DATA;
    }
    if (!decrypted) {
        error = kTextAlreadyEncrypted;
        return DB_ALREADY_ENCRYPTED;
    }
    if (!legacy_format()) return encrypt2();
    // The random device may throw; the data stays plaintext and the caller gets
    // a status, never an exception.
    try {
        db_random_bytes(salt, kSaltSize);
        db_random_bytes(nonce, kNonceSize);
    } catch (...) {
        error = kTextRandomFailed;
        return DB_RANDOM_FAILED;
    }

    std::uint8_t key[kKeySize];
    WipeOnExit wipe_key(key, sizeof key);
    if (int status = derive_key(key)) return status;
    ctr_transform(key);
    hmac_sha3_256(data.get(), data_length, key, kKeySize, mac);
    decrypted = false;
    ciphertext_legacy_ = true;
    return DB_OK;
}

int Database::derive_keys2(std::uint8_t keys[64])
{
    if (!password) {
        error = kTextNoPassword;
        return DB_NO_PASSWORD;
    }
    if (pbkdf2_hmac_sha3_256(password.get(), password_length, salt, kSaltSize, keys, kSessionKeysSize, iterations) !=
        0) {
        error = kTextKdfFailed;
        return DB_KDF_FAILED;
    }
    return DB_OK;
}

void Database::compute_mac2(const std::uint8_t mac_key[32], std::uint8_t out[32]) const
{
    // Bytes 0-60 and 93-96 of the file, as save_file writes them.
    std::uint8_t covered[kMacOffset2 + 4];
    std::uint8_t* p = covered;
    std::memcpy(p, kMagic, kMagicSize);
    p += kMagicSize;
    std::memcpy(p, kVersionWritten2, kVersionSize);
    p += kVersionSize;
    store32_be(p, iterations);
    p += kIterationsSize;
    std::memcpy(p, salt, kSaltSize);
    p += kSaltSize;
    std::memcpy(p, nonce, kNonceSize);
    p += kNonceSize;
    store32_be(p, data_length);
    hmac_sha3_256_fips_joined(covered, sizeof covered, data.get(), data_length, mac_key, kKeySize, out);
}

int Database::encrypt2()
{
    // A nonce never repeats under one key: every encryption draws one. The random
    // device may throw; the data stays plaintext and the caller gets a status.
    std::uint8_t new_salt[kSaltSize];
    try {
        db_random_bytes(nonce, kNonceSize);
        if (!session_keys_valid_) db_random_bytes(new_salt, kSaltSize);
    } catch (...) {
        error = kTextRandomFailed;
        return DB_RANDOM_FAILED;
    }
    if (!session_keys_valid_) {
        if (!password) {
            error = kTextNoPassword;
            return DB_NO_PASSWORD;
        }
        const std::uint32_t old_iterations = iterations;
        std::uint8_t old_salt[kSaltSize];
        std::memcpy(old_salt, salt, kSaltSize);
        std::memcpy(salt, new_salt, kSaltSize);
        iterations = new_key_iterations;
        if (int status = derive_keys2(session_keys_)) {
            // The header fields stay those of the ciphertext (if any) they describe.
            std::memcpy(salt, old_salt, kSaltSize);
            iterations = old_iterations;
            secure_wipe(session_keys_, sizeof session_keys_);
            return status;
        }
        session_keys_valid_ = true;
    }
    ctr_crypt_sp800(data.get(), data_length, session_keys_, nonce, data.get());
    compute_mac2(session_keys_ + kKeySize, mac);
    decrypted = false;
    ciphertext_legacy_ = false;
    return DB_OK;
}

int Database::decrypt2()
{
    std::uint8_t keys[kSessionKeysSize];
    WipeOnExit wipe_keys(keys, sizeof keys);
    if (int status = derive_keys2(keys)) return status;
    std::uint8_t tag[kMacSize];
    WipeOnExit wipe_tag(tag, sizeof tag);
    compute_mac2(keys + kKeySize, tag);
    if (!equal_in_constant_time(tag, mac, kMacSize)) {
        error = kTextWrongPassword;
        return DB_WRONG_PASSWORD;
    }
    ctr_crypt_sp800(data.get(), data_length, keys, nonce, data.get());
    // The saves of this session reuse the keys, unless the file's count is not the one
    // the program writes: then the first save derives keys with that count.
    if (iterations == new_key_iterations) {
        std::memcpy(session_keys_, keys, kSessionKeysSize);
        session_keys_valid_ = true;
    }
    decrypted = true;
    return DB_OK;
}

int Database::decrypt()
{
    if (!data) {
        error = kTextNoData;
        return DB_NO_DATA;
    }
    if (decrypted) {
        error = kTextAlreadyDecrypted;
        return DB_ALREADY_DECRYPTED;
    }
    if (!ciphertext_legacy_) return decrypt2();
    std::uint8_t key[kKeySize];
    WipeOnExit wipe_key(key, sizeof key);
    if (int status = derive_key(key)) return status;
    if (int status = verify_mac(key)) return status;
    ctr_transform(key);
    decrypted = true;
    return DB_OK;
}

int Database::save(const std::string& path)
{
    return save_placed(path, db_file::Placement::kReplace);
}

int Database::save_new(const std::string& path)
{
    return save_placed(path, db_file::Placement::kCreateNew);
}

int Database::save_placed(const std::string& path, db_file::Placement placement)
{
    try {
        return save_file(path, placement);
    } catch (const std::bad_alloc&) {
        try {
            error = kTextSaveOutOfMemory;
        } catch (const std::bad_alloc&) {
            error.clear();
        }
        return DB_IO_ERROR;
    }
}

int Database::save_file(const std::string& path, db_file::Placement placement)
{
    if (!data) {
        error = kTextNoData;
        return DB_NO_DATA;
    }
    if (decrypted) {
        if (int status = encrypt()) return status;
    }

    std::uint8_t header[kHeaderSize2];
    std::uint8_t* p = header;
    std::memcpy(p, kMagic, kMagicSize);
    p += kMagicSize;
    std::memcpy(p, ciphertext_legacy_ ? kVersionWritten : kVersionWritten2, kVersionSize);
    p += kVersionSize;
    if (!ciphertext_legacy_) {
        store32_be(p, iterations);
        p += kIterationsSize;
    }
    std::memcpy(p, salt, kSaltSize);
    p += kSaltSize;
    std::memcpy(p, nonce, kNonceSize);
    p += kNonceSize;
    std::memcpy(p, mac, kMacSize);
    p += kMacSize;
    store32_be(p, data_length);
    p += 4;

    db_file::WriteOutcome outcome =
        db_file::replace_file(path, header, static_cast<std::size_t>(p - header), data.get(), data_length, placement);
    switch (outcome.kind) {
    case db_file::WriteOutcome::kOk: return DB_OK;
    case db_file::WriteOutcome::kWriteFailed: error = kTextCannotWrite; return DB_IO_ERROR;
    case db_file::WriteOutcome::kOpenFailed:
    case db_file::WriteOutcome::kReplaceFailed: break;
    }
    error = describe_errno(outcome.error_number);
    return DB_IO_ERROR;
}
