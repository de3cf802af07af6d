#include "db/database.h"

#include "crypto/bytes.h"
#include "crypto/keyed.h"
#include "crypto/wipe.h"
#include "db/file_io.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace {

constexpr char kMagic[kMagicSize + 1] = "GLIMKEEPDB";
constexpr char kVersionWritten[kVersionSize + 1] = "1.0";
constexpr std::size_t kLengthOffset = kMagicSize + kVersionSize + kSaltSize + kNonceSize + kMacSize;
static_assert(kLengthOffset + 4 == kHeaderSize, "header layout");

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

bool is_digit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// Reads exactly `size` bytes; false on a short read or a read error.
bool read_exactly(std::FILE* file, void* out, std::size_t size) {
    return size == 0 || std::fread(out, 1, size, file) == size;
}

// The standard description of an errno value; a failure that left no number
// (which the C library does not promise) still gets an input/output text.
std::string describe_errno(int error_number) {
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
bool equal_in_constant_time(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
    volatile std::uint8_t difference = 0;
    for (std::size_t i = 0; i < size; ++i)
        difference = static_cast<std::uint8_t>(difference | (a[i] ^ b[i]));
    return difference == 0;
}

}  // namespace

Database::~Database() {
    wipe_password();
    wipe_data();
}

void Database::wipe_data() {
    if (data) {
        secure_wipe(data.get(), data_length);
        data.reset();
    }
    data_length = 0;
}

void Database::wipe_password() {
    if (password) {
        secure_wipe(password.get(), password_length);
        password.reset();
    }
    password_length = 0;
}

void Database::set_plaintext(const char* bytes, std::uint32_t length) {
    wipe_data();
    // On std::bad_alloc the container is left empty, never with a length
    // that does not match its buffer.
    data.reset(new std::uint8_t[length]);
    if (length > 0) std::memcpy(data.get(), bytes, length);
    data_length = length;
    decrypted = true;
}

void Database::set_password(const char* bytes, std::uint32_t length) {
    wipe_password();
    password.reset(new std::uint8_t[length]);
    if (length > 0) std::memcpy(password.get(), bytes, length);
    password_length = length;
}

std::string Database::plaintext() const {
    if (!data || !decrypted) return std::string();
    return std::string(reinterpret_cast<const char*>(data.get()), data_length);
}

std::string Database::last_error() const { return error; }

int Database::load(const std::string& path) {
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

int Database::load_file(const std::string& path) {
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

    std::uint8_t magic[kMagicSize];
    std::uint8_t version[kVersionSize];
    std::uint8_t length_bytes[4];
    bool header_read = read_exactly(file, magic, sizeof magic) &&
                       read_exactly(file, version, sizeof version) &&
                       read_exactly(file, salt, sizeof salt) &&
                       read_exactly(file, nonce, sizeof nonce) &&
                       read_exactly(file, mac, sizeof mac) &&
                       read_exactly(file, length_bytes, sizeof length_bytes);
    if (!header_read) {
        error = kTextCannotReadHeader;
        return DB_IO_ERROR;
    }

    if (std::memcmp(magic, kMagic, kMagicSize) != 0 || version[1] != '.') {
        error = kTextNotDatabase;
        return DB_BAD_FORMAT;
    }
    if (!is_digit(version[0]) || !is_digit(version[2])) {
        error = kTextNotDatabase;
        return DB_BAD_FORMAT;
    }
    major_version = static_cast<std::uint8_t>(version[0] - '0');
    minor_version = static_cast<std::uint8_t>(version[2] - '0');
    if (major_version != 1 || minor_version != 0) {
        error = kTextBadVersion;
        return DB_BAD_VERSION;
    }

    // The length is checked against the file before anything is allocated, so a
    // hostile length field never costs more memory than the file holds.
    std::uint32_t length = load32_be(length_bytes);
    if (length > size - kHeaderSize) {
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
    return DB_OK;
}

int Database::derive_key(std::uint8_t key[32]) {
    if (!password) {
        error = kTextNoPassword;
        return DB_NO_PASSWORD;
    }
    std::memset(key, 0, kKeySize);
    if (pbkdf2(password.get(), password_length, salt, kSaltSize, key, kKeySize,
               kPbkdf2Iterations, hmac_sha3_256, kKeySize) != 0) {
        error = kTextKdfFailed;
        return DB_KDF_FAILED;
    }
    return DB_OK;
}

int Database::verify_mac(const std::uint8_t key[32]) {
    std::uint8_t tag[kMacSize];
    WipeOnExit wipe_tag(tag, sizeof tag);
    hmac_sha3_256(data.get(), data_length, key, kKeySize, tag);
    if (!equal_in_constant_time(tag, mac, kMacSize)) {
        error = kTextWrongPassword;
        return DB_WRONG_PASSWORD;
    }
    return DB_OK;
}

void Database::ctr_transform(const std::uint8_t key[32]) {
    ctr_crypt(data.get(), data_length, key, nonce, data.get());
}

int Database::encrypt() {
    if (!data) {
        error = kTextNoData;
        return DB_NO_DATA;
    }
    if (!decrypted) {
        error = kTextAlreadyEncrypted;
        return DB_ALREADY_ENCRYPTED;
    }
    // The random device may throw; the data stays plaintext and the caller gets
    // a status, never an exception.
    try {
        random_bytes(salt, kSaltSize);
        random_bytes(nonce, kNonceSize);
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
    return DB_OK;
}

int Database::decrypt() {
    if (!data) {
        error = kTextNoData;
        return DB_NO_DATA;
    }
    if (decrypted) {
        error = kTextAlreadyDecrypted;
        return DB_ALREADY_DECRYPTED;
    }
    std::uint8_t key[kKeySize];
    WipeOnExit wipe_key(key, sizeof key);
    if (int status = derive_key(key)) return status;
    if (int status = verify_mac(key)) return status;
    ctr_transform(key);
    decrypted = true;
    return DB_OK;
}

int Database::save(const std::string& path) {
    try {
        return save_file(path);
    } catch (const std::bad_alloc&) {
        try {
            error = kTextSaveOutOfMemory;
        } catch (const std::bad_alloc&) {
            error.clear();
        }
        return DB_IO_ERROR;
    }
}

int Database::save_file(const std::string& path) {
    if (!data) {
        error = kTextNoData;
        return DB_NO_DATA;
    }
    if (decrypted) {
        if (int status = encrypt()) return status;
    }

    std::uint8_t header[kHeaderSize];
    std::uint8_t* p = header;
    std::memcpy(p, kMagic, kMagicSize);
    p += kMagicSize;
    std::memcpy(p, kVersionWritten, kVersionSize);
    p += kVersionSize;
    std::memcpy(p, salt, kSaltSize);
    p += kSaltSize;
    std::memcpy(p, nonce, kNonceSize);
    p += kNonceSize;
    std::memcpy(p, mac, kMacSize);
    p += kMacSize;
    store32_be(p, data_length);

    db_file::WriteOutcome outcome =
        db_file::replace_file(path, header, sizeof header, data.get(), data_length);
    switch (outcome.kind) {
    case db_file::WriteOutcome::kOk:
        return DB_OK;
    case db_file::WriteOutcome::kWriteFailed:
        error = kTextCannotWrite;
        return DB_IO_ERROR;
    case db_file::WriteOutcome::kOpenFailed:
    case db_file::WriteOutcome::kReplaceFailed:
        break;
    }
    error = describe_errno(outcome.error_number);
    return DB_IO_ERROR;
}
