#include "db_test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>

namespace dbtest {

TempDir::TempDir() {
    static unsigned counter = 0;
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        fs::path candidate = fs::temp_directory_path() /
                             ("glimkeep-db-" + std::to_string(ticks) + "-" + std::to_string(++counter));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Read-only files are made writable first so that Windows lets them go.
    for (const auto& entry : fs::recursive_directory_iterator(path_, ignored))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& name) const { return narrow(path_ / name); }

std::vector<std::string> TempDir::names() const {
    std::vector<std::string> result;
    for (const auto& entry : fs::directory_iterator(path_))
        result.push_back(narrow(entry.path().filename()));
    std::sort(result.begin(), result.end());
    return result;
}

std::string narrow(const fs::path& path) { return path.u8string(); }

std::string source_file(const std::string& relative) {
#ifdef _WIN32
    return std::string("Z:") + GLIMKEEP_SOURCE_DIR + "/" + relative;
#else
    return std::string(GLIMKEEP_SOURCE_DIR) + "/" + relative;
#endif
}

Bytes read_file(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string hex(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string hex(const Bytes& bytes) { return hex(bytes.data(), bytes.size()); }

Bytes vault_image(const std::string& magic, const std::string& version, const Bytes& salt,
                  const Bytes& nonce, const Bytes& mac, const Bytes& ciphertext) {
    Bytes image(magic.begin(), magic.end());
    image.insert(image.end(), version.begin(), version.end());
    image.insert(image.end(), salt.begin(), salt.end());
    image.insert(image.end(), nonce.begin(), nonce.end());
    image.insert(image.end(), mac.begin(), mac.end());
    auto n = static_cast<std::uint32_t>(ciphertext.size());
    image.push_back(static_cast<std::uint8_t>(n >> 24));
    image.push_back(static_cast<std::uint8_t>(n >> 16));
    image.push_back(static_cast<std::uint8_t>(n >> 8));
    image.push_back(static_cast<std::uint8_t>(n));
    image.insert(image.end(), ciphertext.begin(), ciphertext.end());
    return image;
}

Bytes vault_image_with_length(std::uint32_t length, const Bytes& ciphertext) {
    Bytes image = vault_image("GLIMKEEPDB", "1.0", Bytes(32, 0x11), Bytes(12, 0x22),
                              Bytes(32, 0x33), ciphertext);
    image[89] = static_cast<std::uint8_t>(length >> 24);
    image[90] = static_cast<std::uint8_t>(length >> 16);
    image[91] = static_cast<std::uint8_t>(length >> 8);
    image[92] = static_cast<std::uint8_t>(length);
    return image;
}

void make_vault(const std::string& path, const std::string& password, const std::string& plaintext) {
    Database10 db;
    db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
    db.set_plaintext(plaintext.data(), static_cast<std::uint32_t>(plaintext.size()));
    ASSERT_EQ(db.save(path), DB_OK) << db.last_error();
}

void set_read_only(const std::string& path, bool read_only) {
    const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(fs::u8path(path), read_only ? write : fs::perms::owner_write,
                    read_only ? fs::perm_options::remove : fs::perm_options::add);
}

// The probe's state; plain globals, as the tests run on one thread.
namespace {
bool g_armed = false;
std::size_t g_largest = 0;
std::size_t g_fail_from = 0;  // 0: no allocation fails

void* allocate(std::size_t size) noexcept {
    if (g_armed && size > g_largest) g_largest = size;
    if (g_armed && g_fail_from != 0 && size >= g_fail_from) return nullptr;
    return std::malloc(size ? size : 1);
}
}  // namespace

AllocationProbe::AllocationProbe() {
    g_largest = 0;
    g_fail_from = 0;
    g_armed = true;
}

AllocationProbe::~AllocationProbe() {
    g_armed = false;
    g_fail_from = 0;
}

void AllocationProbe::fail_from(std::size_t size) { g_fail_from = size; }

std::size_t AllocationProbe::largest() const { return g_largest; }

}  // namespace dbtest

// Every operator new of the test program goes through the probe.
void* operator new(std::size_t size) {
    if (void* p = dbtest::allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = dbtest::allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return dbtest::allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return dbtest::allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
