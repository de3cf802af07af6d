// Loads the input as a vault file and decrypts it with the password of the seed
// corpus (fuzz/corpus/database/, made with "fuzz password"). Beyond crashes and
// leaks, it fails on any allocation larger than the input plus a fixed allowance
// for the C library's stream buffer and the error texts, and on any state that
// contradicts the status a call returned.

#include "db/database.h"

#include <sanitizer/allocator_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr char kPassword[] = "fuzz password";
constexpr std::size_t kFixedAllowance = 16 * 1024;
// A 2.0 file may ask for up to 10,000,000 key-derivation iterations, minutes under the
// sanitizers: such inputs are loaded but not decrypted.
constexpr std::uint32_t kMaxIterationsTried = 2000;

// Set while the container runs; read by the allocator hook.
std::size_t g_allocation_limit = 0;

void on_malloc(const volatile void*, std::size_t size)
{
    if (g_allocation_limit != 0 && size > g_allocation_limit) {
        char message[160];
        int n = std::snprintf(message, sizeof message, "database_fuzzer: allocation of %zu bytes, limit %zu\n", size,
                              g_allocation_limit);
        if (n > 0) (void)!write(2, message, static_cast<std::size_t>(n));
        std::abort();
    }
}

void on_free(const volatile void*) {}

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "database_fuzzer: %s\n", what);
        std::abort();
    }
}

std::string g_path;

void remove_input()
{
    std::remove(g_path.c_str());
}

// The file the container reads, one per fuzzing process; removed at exit.
const std::string& input_path()
{
    if (g_path.empty()) {
        g_path = "/tmp/glimkeep-database-fuzz-" + std::to_string(getpid()) + ".gkv";
        std::atexit(remove_input);
        __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
    }
    return g_path;
}

bool write_input(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = input_path();
    if (!write_input(path, data, size)) return 0;

    Database db;
    db.set_password(kPassword, sizeof kPassword - 1);
    g_allocation_limit = size + kFixedAllowance;
    int loaded = db.load(path);
    int decrypted = -1;
    const bool too_slow = loaded == DB_OK && !db.legacy_format() && db.iterations() > kMaxIterationsTried;
    if (loaded == DB_OK && !too_slow) decrypted = db.decrypt();
    g_allocation_limit = 0;

    switch (loaded) {
    case DB_OK:
        check(size >= format_v1::kHeaderSize, "a file shorter than the header loaded");
        check(db.data() != nullptr, "a load succeeded without data");
        check((db.major_version() == 1 || db.major_version() == 2) && db.minor_version() == 0,
              "a version other than 1.0 and 2.0 loaded");
        check(db.data_length() <= size - (db.legacy_format() ? format_v1::kHeaderSize : format_v2::kHeaderSize),
              "more data than the file holds");
        check(db.legacy_format() || (db.iterations() >= 1 && db.iterations() <= format_v2::kMaxIterations),
              "an iteration count out of bounds loaded");
        if (too_slow) break;
        check(decrypted == DB_OK || decrypted == DB_WRONG_PASSWORD, "unexpected decrypt status");
        if (decrypted == DB_OK) {
            check(db.decrypted() && db.plaintext().size() == db.data_length(), "plaintext size");
        } else {
            check(!db.decrypted() && db.plaintext().empty(), "wrong password left plaintext");
        }
        break;
    case DB_BAD_FORMAT:
    case DB_BAD_VERSION:
    case DB_IO_ERROR:
        check(db.data() == nullptr && db.data_length() == 0, "a failed load kept data");
        check(!db.last_error().empty(), "a failed load without a text");
        break;
    default: check(false, "unexpected load status");
    }
    return 0;
}
