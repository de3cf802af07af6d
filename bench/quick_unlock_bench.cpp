// A quick unlock: the vault of 1 MiB loaded, the kept keys opened with the code (the
// code's derivation at the program's iteration count) and the vault decrypted with
// them, as the open window does after a lock.

#include "db/database.h"
#include "vault/kept_keys.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

constexpr char kPassword[] = "benchmark password 1234";
constexpr char kCode[] = "1234";

void BM_QuickUnlock1MiB(benchmark::State& state)
{
    const std::string path = (std::filesystem::temp_directory_path() / "glimkeep-bench-quick.gkv").string();
    KeptKeys kept;
    {
        Database db;
        const std::string text(1u << 20, 'x');
        db.set_password(kPassword, sizeof kPassword - 1);
        db.set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
        std::uint8_t keys[format_v2::kKeysSize];
        if (db.save(path) != DB_OK || !db.copy_session_keys(keys) ||
            kept.keep(keys, db.salt(), db.iterations(), kCode, sizeof kCode - 1,
                      process_kept_keys_seams().now() + 3600000u) != KeptKeysResult::kKept) {
            state.SkipWithError("the vault or its kept keys could not be made");
            return;
        }
    }
    for (auto _ : state) {
        Database db;
        std::uint8_t keys[format_v2::kKeysSize];
        if (db.load(path) != DB_OK ||
            kept.open(kCode, sizeof kCode - 1, db.salt(), db.iterations(), keys) != KeptKeysResult::kOpened ||
            db.decrypt_with_keys(keys) != DB_OK) {
            state.SkipWithError("the quick unlock failed");
            break;
        }
        benchmark::DoNotOptimize(db.data());
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_QuickUnlock1MiB)->Unit(benchmark::kMillisecond);

}  // namespace
