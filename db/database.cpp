#include "db/database.h"

#include "crypto/keyed.h"
#include "crypto/wipe.h"
#include "platform/file_io.h"

#include <cerrno>
#include <cstring>
#include <new>

decltype(&random_bytes) db_random_bytes = &random_bytes;
decltype(&format_v1::pbkdf2) db_pbkdf2 = &format_v1::pbkdf2;

namespace {

constexpr char kTextInsufficientSize[] = "File has insufficient size (file corrupted?)";
constexpr char kTextNotDatabase[] = "This file is not database file for this program";
constexpr char kTextBadVersion[] = "Unsupported file version";
constexpr char kTextCannotReadHeader[] = "Cannot read file header";
constexpr char kTextCannotReadCiphertext[] = "Cannot read ciphertext from file (file corrupted?)";
constexpr char kTextExtraBytes[] = "File has extra bytes after the ciphertext (file corrupted?)";
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

// A copy of a buffer that may hold a secret; wiped when it goes.
std::unique_ptr<std::uint8_t[]> copy_of(const std::uint8_t* bytes, std::uint32_t length)
{
    if (!bytes) return nullptr;
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[length]);
    if (length > 0) std::memcpy(copy.get(), bytes, length);
    return copy;
}

}  // namespace

// Everything an operation that writes under a new password or format may change,
// so that a failure puts it back. Its buffers are wiped when it goes.
struct Database::Snapshot {
    bool decrypted = false;
    FileHeader header;
    std::uint32_t loaded_iterations = 0;
    bool write_legacy = false;
    bool ciphertext_legacy = false;
    std::uint32_t data_length = 0;
    std::unique_ptr<std::uint8_t[]> data;
    std::uint32_t password_length = 0;
    std::unique_ptr<std::uint8_t[]> password;
    bool session_keys_valid = false;
    std::uint8_t session_keys[format_v2::kKeysSize] = {};

    Snapshot() = default;
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;
    ~Snapshot()
    {
        if (data) secure_wipe(data.get(), data_length);
        if (password) secure_wipe(password.get(), password_length);
        secure_wipe(session_keys, sizeof session_keys);
    }
};

Database::~Database()
{
    wipe_password();
    wipe_data();
}

int Database::fail(int status, const char* text)
{
    try {
        error_ = text;
    } catch (const std::bad_alloc&) {
        error_.clear();
    }
    return status;
}

void Database::wipe_data()
{
    if (data_) {
        secure_wipe(data_.get(), data_length_);
        data_.reset();
    }
    data_length_ = 0;
}

void Database::drop_session_keys()
{
    secure_wipe(session_keys_, sizeof session_keys_);
    session_keys_valid_ = false;
}

bool Database::legacy_format() const
{
    return write_legacy_;
}

void Database::write_legacy_format()
{
    write_legacy_ = true;
}

void Database::write_current_format()
{
    write_legacy_ = false;
}

void Database::set_new_key_iterations(std::uint32_t iterations)
{
    new_key_iterations_ = iterations;
}

void Database::wipe_password()
{
    drop_session_keys();
    if (password_) {
        secure_wipe(password_.get(), password_length_);
        password_.reset();
    }
    password_length_ = 0;
}

void Database::set_plaintext(const char* bytes, std::uint32_t length)
{
    wipe_data();
    // On std::bad_alloc the container is left empty, never with a length
    // that does not match its buffer.
    data_.reset(new std::uint8_t[length]);
    if (length > 0) std::memcpy(data_.get(), bytes, length);
    data_length_ = length;
    decrypted_ = true;
}

void Database::set_password(const char* bytes, std::uint32_t length)
{
    wipe_password();
    password_.reset(new std::uint8_t[length]);
    if (length > 0) std::memcpy(password_.get(), bytes, length);
    password_length_ = length;
}

bool Database::password_equals(const char* bytes, std::uint32_t length) const
{
    if (!password_ || length != password_length_) return false;
    return equal_in_constant_time(password_.get(), reinterpret_cast<const std::uint8_t*>(bytes), length);
}

std::string Database::plaintext() const
{
    if (!data_ || !decrypted_) return std::string();
    return std::string(reinterpret_cast<const char*>(data_.get()), data_length_);
}

std::string Database::last_error() const
{
    return error_;
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
        return fail(DB_IO_ERROR, kTextOutOfMemory);
    }
}

// Read the header, check it, then read the ciphertext it announces.
int Database::load_file(const std::string& path)
{
    errno = 0;
    std::FILE* file = db_file::open_for_reading(path);
    if (!file) {
        error_ = describe_errno(errno);
        return DB_IO_ERROR;
    }
    FileCloser closer(file);

    std::uint64_t size = 0;
    errno = 0;
    if (!db_file::size_of(file, size)) {
        error_ = describe_errno(errno);
        return DB_IO_ERROR;
    }
    if (size < format_v1::kHeaderSize) return fail(DB_BAD_FORMAT, kTextInsufficientSize);

    wipe_data();

    // The 1.0 header is read whole before any field is looked at; 2.0 has four more bytes.
    std::uint8_t bytes[format_v2::kHeaderSize];
    if (!read_exactly(file, bytes, format_v1::kHeaderSize)) return fail(DB_IO_ERROR, kTextCannotReadHeader);
    FileHeader header;
    const FilePrefix prefix = read_prefix(bytes, header);
    if (prefix == FilePrefix::kNotAVault) return fail(DB_BAD_FORMAT, kTextNotDatabase);
    header_.major_version = header.major_version;
    header_.minor_version = header.minor_version;
    if (prefix == FilePrefix::kOtherVersion) return fail(DB_BAD_VERSION, kTextBadVersion);
    // New header fields: the keys kept for the old ones are void.
    drop_session_keys();
    const bool legacy = prefix == FilePrefix::kVersion10;
    std::size_t header_size = format_v1::kHeaderSize;
    if (legacy) {
        format_v1::read_header(bytes, header);
    } else {
        header_size = format_v2::kHeaderSize;
        if (size < header_size) return fail(DB_BAD_FORMAT, kTextInsufficientSize);
        if (!read_exactly(file, bytes + format_v1::kHeaderSize, header_size - format_v1::kHeaderSize))
            return fail(DB_IO_ERROR, kTextCannotReadHeader);
        if (!format_v2::read_header(bytes, header)) return fail(DB_BAD_FORMAT, kTextNotDatabase);
    }

    // The length is checked against the file before anything is allocated, so a
    // hostile length field never costs more memory than the file holds. Format 2.0
    // also refuses bytes after the ciphertext, which its MAC would not cover.
    if (header.length > size - header_size) return fail(DB_IO_ERROR, kTextCannotReadCiphertext);
    if (!legacy && header.length < size - header_size) return fail(DB_BAD_FORMAT, kTextExtraBytes);
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[header.length]);
    if (!buffer) return fail(DB_IO_ERROR, kTextOutOfMemory);
    header_ = header;
    data_ = std::move(buffer);
    data_length_ = header.length;
    if (!read_exactly(file, data_.get(), data_length_)) {
        wipe_data();
        return fail(DB_IO_ERROR, kTextCannotReadCiphertext);
    }

    decrypted_ = false;
    ciphertext_legacy_ = legacy;
    write_legacy_ = legacy && !held_current_format_;
    if (!legacy) held_current_format_ = true;
    loaded_iterations_ = legacy ? 0 : header.iterations;
    return DB_OK;
}

int Database::derive_key(std::uint8_t key[32])
{
    if (!password_) return fail(DB_NO_PASSWORD, kTextNoPassword);
    std::memset(key, 0, kKeySize);
    if (db_pbkdf2(password_.get(), password_length_, header_.salt, kSaltSize, key, kKeySize, format_v1::kIterations,
                  format_v1::hmac_sha3_256, kKeySize) != 0)
        return fail(DB_KDF_FAILED, kTextKdfFailed);
    return DB_OK;
}

int Database::verify_mac(const std::uint8_t key[32])
{
    std::uint8_t tag[kMacSize];
    WipeOnExit wipe_tag(tag, sizeof tag);
    format_v1::hmac_sha3_256(data_.get(), data_length_, key, kKeySize, tag);
    if (!equal_in_constant_time(tag, header_.mac, kMacSize)) return fail(DB_WRONG_PASSWORD, kTextWrongPassword);
    return DB_OK;
}

void Database::ctr_transform(const std::uint8_t key[32])
{
    format_v1::ctr_crypt(data_.get(), data_length_, key, header_.nonce, data_.get());
}

int Database::encrypt()
{
    if (!data_) return fail(DB_NO_DATA, kTextNoData);
    if (!decrypted_) return fail(DB_ALREADY_ENCRYPTED, kTextAlreadyEncrypted);
    if (!write_legacy_) return encrypt_v2();
    // The random device may throw; the data stays plaintext and the caller gets
    // a status, never an exception.
    try {
        db_random_bytes(header_.salt, kSaltSize);
        db_random_bytes(header_.nonce, kNonceSize);
    } catch (...) {
        return fail(DB_RANDOM_FAILED, kTextRandomFailed);
    }

    std::uint8_t key[kKeySize];
    WipeOnExit wipe_key(key, sizeof key);
    if (int status = derive_key(key)) return status;
    ctr_transform(key);
    format_v1::hmac_sha3_256(data_.get(), data_length_, key, kKeySize, header_.mac);
    header_.major_version = 1;
    header_.minor_version = 0;
    header_.length = data_length_;
    decrypted_ = false;
    ciphertext_legacy_ = true;
    return DB_OK;
}

int Database::derive_keys_v2(std::uint8_t keys[format_v2::kKeysSize])
{
    if (!password_) return fail(DB_NO_PASSWORD, kTextNoPassword);
    if (pbkdf2_hmac_sha3_256(password_.get(), password_length_, header_.salt, kSaltSize, keys, format_v2::kKeysSize,
                             header_.iterations) != 0)
        return fail(DB_KDF_FAILED, kTextKdfFailed);
    return DB_OK;
}

int Database::encrypt_v2()
{
    // A nonce never repeats under one key: every encryption draws one. The random
    // device may throw; the data stays plaintext and the caller gets a status.
    std::uint8_t new_salt[kSaltSize];
    try {
        db_random_bytes(header_.nonce, kNonceSize);
        if (!session_keys_valid_) db_random_bytes(new_salt, kSaltSize);
    } catch (...) {
        return fail(DB_RANDOM_FAILED, kTextRandomFailed);
    }
    if (!session_keys_valid_) {
        if (!password_) return fail(DB_NO_PASSWORD, kTextNoPassword);
        const FileHeader old_header = header_;
        std::memcpy(header_.salt, new_salt, kSaltSize);
        header_.iterations = new_key_iterations_ > loaded_iterations_ ? new_key_iterations_ : loaded_iterations_;
        if (int status = derive_keys_v2(session_keys_)) {
            // The header fields stay those of the ciphertext (if any) they describe.
            std::memcpy(header_.salt, old_header.salt, kSaltSize);
            header_.iterations = old_header.iterations;
            secure_wipe(session_keys_, sizeof session_keys_);
            return status;
        }
        session_keys_valid_ = true;
    }
    header_.major_version = 2;
    header_.minor_version = 0;
    header_.length = data_length_;
    ctr_crypt_sp800(data_.get(), data_length_, session_keys_, header_.nonce, data_.get());
    format_v2::compute_mac(header_, data_.get(), data_length_, session_keys_ + kKeySize, header_.mac);
    decrypted_ = false;
    ciphertext_legacy_ = false;
    return DB_OK;
}

int Database::decrypt_v2()
{
    std::uint8_t keys[format_v2::kKeysSize];
    WipeOnExit wipe_keys(keys, sizeof keys);
    if (int status = derive_keys_v2(keys)) return status;
    return decrypt_v2_with(keys);
}

int Database::decrypt_v2_with(const std::uint8_t keys[format_v2::kKeysSize])
{
    std::uint8_t tag[kMacSize];
    WipeOnExit wipe_tag(tag, sizeof tag);
    format_v2::compute_mac(header_, data_.get(), data_length_, keys + kKeySize, tag);
    if (!equal_in_constant_time(tag, header_.mac, kMacSize)) return fail(DB_WRONG_PASSWORD, kTextWrongPassword);
    ctr_crypt_sp800(data_.get(), data_length_, keys, header_.nonce, data_.get());
    // The saves of this session reuse the keys, unless the file's count is below the
    // one the program writes: then the first save derives keys with that count.
    if (header_.iterations >= new_key_iterations_) {
        std::memcpy(session_keys_, keys, format_v2::kKeysSize);
        session_keys_valid_ = true;
    }
    decrypted_ = true;
    return DB_OK;
}

int Database::decrypt()
{
    if (!data_) return fail(DB_NO_DATA, kTextNoData);
    if (decrypted_) return fail(DB_ALREADY_DECRYPTED, kTextAlreadyDecrypted);
    if (!ciphertext_legacy_) return decrypt_v2();
    std::uint8_t key[kKeySize];
    WipeOnExit wipe_key(key, sizeof key);
    if (int status = derive_key(key)) return status;
    if (int status = verify_mac(key)) return status;
    ctr_transform(key);
    decrypted_ = true;
    return DB_OK;
}

int Database::decrypt_with_keys(const std::uint8_t keys[format_v2::kKeysSize])
{
    if (!data_) return fail(DB_NO_DATA, kTextNoData);
    if (decrypted_) return fail(DB_ALREADY_DECRYPTED, kTextAlreadyDecrypted);
    if (ciphertext_legacy_) return fail(DB_BAD_VERSION, kTextBadVersion);
    return decrypt_v2_with(keys);
}

int Database::take_password_of_keys(const char* bytes, std::uint32_t length)
{
    if (!session_keys_valid_ || ciphertext_legacy_) return fail(DB_NO_PASSWORD, kTextNoPassword);
    std::uint8_t keys[format_v2::kKeysSize];
    WipeOnExit wipe_keys(keys, sizeof keys);
    if (pbkdf2_hmac_sha3_256(reinterpret_cast<const std::uint8_t*>(bytes), length, header_.salt, kSaltSize, keys,
                             format_v2::kKeysSize, header_.iterations) != 0)
        return fail(DB_KDF_FAILED, kTextKdfFailed);
    if (!equal_in_constant_time(keys, session_keys_, format_v2::kKeysSize))
        return fail(DB_WRONG_PASSWORD, kTextWrongPassword);
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[length]);
    if (length > 0) std::memcpy(copy.get(), bytes, length);
    if (password_) secure_wipe(password_.get(), password_length_);
    password_ = std::move(copy);
    password_length_ = length;
    return DB_OK;
}

bool Database::copy_session_keys(std::uint8_t keys[format_v2::kKeysSize]) const
{
    if (!session_keys_valid_ || ciphertext_legacy_ || write_legacy_) return false;
    std::memcpy(keys, session_keys_, format_v2::kKeysSize);
    return true;
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
        return fail(DB_IO_ERROR, kTextSaveOutOfMemory);
    }
}

int Database::save_file(const std::string& path, db_file::Placement placement)
{
    if (!data_) return fail(DB_NO_DATA, kTextNoData);
    if (decrypted_) {
        if (int status = encrypt()) return status;
    }

    std::uint8_t header[format_v2::kHeaderSize];
    std::size_t header_size = format_v1::kHeaderSize;
    FileHeader fields = header_;
    fields.length = data_length_;
    if (ciphertext_legacy_) {
        format_v1::write_header(fields, header);
    } else {
        format_v2::write_header(fields, header);
        header_size = format_v2::kHeaderSize;
    }

    db_file::WriteOutcome outcome =
        db_file::replace_file(path, header, header_size, data_.get(), data_length_, placement);
    switch (outcome.kind) {
    case db_file::WriteOutcome::kOk:
        // A new file (a conflicted copy) is not the vault; its format sets nothing.
        if (!ciphertext_legacy_ && placement == db_file::Placement::kReplace) held_current_format_ = true;
        return DB_OK;
    case db_file::WriteOutcome::kWriteFailed: return fail(DB_IO_ERROR, kTextCannotWrite);
    case db_file::WriteOutcome::kOpenFailed:
    case db_file::WriteOutcome::kReplaceFailed: break;
    }
    error_ = describe_errno(outcome.error_number);
    return DB_IO_ERROR;
}

void Database::take(Snapshot& snapshot)
{
    snapshot.decrypted = decrypted_;
    snapshot.header = header_;
    snapshot.loaded_iterations = loaded_iterations_;
    snapshot.write_legacy = write_legacy_;
    snapshot.ciphertext_legacy = ciphertext_legacy_;
    snapshot.data = copy_of(data_.get(), data_length_);
    snapshot.data_length = data_length_;
    snapshot.password = copy_of(password_.get(), password_length_);
    snapshot.password_length = password_length_;
    snapshot.session_keys_valid = session_keys_valid_;
    std::memcpy(snapshot.session_keys, session_keys_, sizeof session_keys_);
}

void Database::restore(Snapshot& snapshot)
{
    wipe_data();
    wipe_password();
    decrypted_ = snapshot.decrypted;
    header_ = snapshot.header;
    loaded_iterations_ = snapshot.loaded_iterations;
    write_legacy_ = snapshot.write_legacy;
    ciphertext_legacy_ = snapshot.ciphertext_legacy;
    data_ = std::move(snapshot.data);
    data_length_ = data_ ? snapshot.data_length : 0;
    password_ = std::move(snapshot.password);
    password_length_ = password_ ? snapshot.password_length : 0;
    snapshot.data_length = 0;
    snapshot.password_length = 0;
    session_keys_valid_ = snapshot.session_keys_valid;
    std::memcpy(session_keys_, snapshot.session_keys, sizeof session_keys_);
}

// Runs `write` on the container; when it fails or runs out of memory, everything
// it changed is put back and the failure's text kept.
template <typename Write>
int Database::transaction(Write write)
{
    try {
        Snapshot before;
        take(before);
        int status = DB_IO_ERROR;
        try {
            status = write();
        } catch (const std::bad_alloc&) {
            restore(before);
            return fail(DB_IO_ERROR, kTextSaveOutOfMemory);
        }
        if (status != DB_OK) {
            std::string error;
            error.swap(error_);
            restore(before);
            error_.swap(error);
        }
        return status;
    } catch (const std::bad_alloc&) {
        return fail(DB_IO_ERROR, kTextSaveOutOfMemory);
    }
}

int Database::reopen(const std::string& path, const char* bytes, std::uint32_t length)
{
    // Without a password the session keys are all there is: they open a file of their
    // salt and count (written again with the same keys), and no other.
    const bool keys_only = !bytes && !password_ && session_keys_valid_;
    std::uint8_t keys[format_v2::kKeysSize];
    WipeOnExit wipe_keys(keys, sizeof keys);
    std::uint8_t keys_salt[kSaltSize];
    std::memcpy(keys, session_keys_, sizeof keys);
    std::memcpy(keys_salt, header_.salt, kSaltSize);
    const std::uint32_t keys_iterations = header_.iterations;
    return transaction([&] {
        if (bytes) set_password(bytes, length);
        if (int status = load(path)) return status;
        if (!keys_only) return decrypt();
        if (ciphertext_legacy_ || header_.iterations != keys_iterations ||
            !equal_in_constant_time(header_.salt, keys_salt, kSaltSize))
            return fail(DB_WRONG_PASSWORD, kTextWrongPassword);
        return decrypt_with_keys(keys);
    });
}

int Database::change_password(const std::string& path, const char* bytes, std::uint32_t length)
{
    return transaction([&] {
        // Ciphertext held (after a save) is under the old password: decrypted with it
        // first, so that the text is what the new password encrypts.
        if (!decrypted_) {
            if (int status = decrypt()) return status;
        }
        set_password(bytes, length);
        return save(path);
    });
}

int Database::upgrade(const std::string& path, const char* bytes, std::uint32_t length)
{
    return transaction([&] {
        // Ciphertext held from a 1.0 file is decrypted with the password held, so that
        // it is written as 2.0.
        if (!decrypted_) {
            if (int status = decrypt()) return status;
        }
        if (bytes) set_password(bytes, length);
        write_legacy_ = false;
        return save(path);
    });
}
