// The vault at 1 MiB of text: load + decrypt (opening the vault, with the key
// derivation of format 2.0) and encrypt + save (the save command, including the flush
// to the disk, with the session's keys).

#include "db/database.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

constexpr std::uint32_t kVaultSize = 1u << 20;
constexpr char kPassword[] = "benchmark password";

std::string scratch_path(const char* name)
{
    return (std::filesystem::temp_directory_path() / name).string();
}

std::string text_of_size(std::uint32_t size)
{
    std::string text;
    text.reserve(size);
    for (unsigned i = 0; text.size() < size; ++i)
        text += "Entry " + std::to_string(i) + "\r\n\tpassword: " + std::to_string(i * 2654435761u) + "\r\n";
    text.resize(size);
    return text;
}

// A new vault of `text` under the benchmark's password, saved to `path` (its keys
// derived, as opening a vault derives them). False, with the error given to the
// benchmark, when it cannot be written.
bool save_new_vault(Database& db, const std::string& path, const std::string& text, benchmark::State& state)
{
    db.set_password(kPassword, sizeof kPassword - 1);
    db.set_plaintext(text.data(), kVaultSize);
    if (db.save(path) == DB_OK) return true;
    state.SkipWithError(db.last_error().c_str());
    return false;
}

void BM_LoadDecrypt1MiB(benchmark::State& state)
{
    const std::string path = scratch_path("glimkeep-bench-load.gkv");
    {
        Database db;
        if (!save_new_vault(db, path, text_of_size(kVaultSize), state)) return;
    }
    for (auto _ : state) {
        Database db;
        db.set_password(kPassword, sizeof kPassword - 1);
        if (db.load(path) != DB_OK || db.decrypt() != DB_OK) {
            state.SkipWithError(db.last_error().c_str());
            break;
        }
        benchmark::DoNotOptimize(db.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kVaultSize);
    std::remove(path.c_str());
}
BENCHMARK(BM_LoadDecrypt1MiB)->Unit(benchmark::kMillisecond);

void BM_EncryptSave1MiB(benchmark::State& state)
{
    const std::string path = scratch_path("glimkeep-bench-save.gkv");
    const std::string text = text_of_size(kVaultSize);
    Database db;
    // The first save of a new vault derives its keys (as opening one does); the saves
    // of a session after it reuse them, and those are what is timed here.
    if (!save_new_vault(db, path, text, state)) return;
    for (auto _ : state) {
        // Handing the text in is part of every save of the editor.
        db.set_plaintext(text.data(), kVaultSize);
        if (db.save(path) != DB_OK) {
            state.SkipWithError(db.last_error().c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kVaultSize);
    std::remove(path.c_str());
}
BENCHMARK(BM_EncryptSave1MiB)->Unit(benchmark::kMillisecond);

}  // namespace
