// The earlier values of one line over 1,000 backups of 100 KB each, all under one
// password of the program's own iteration count: one key derivation, then 1,000
// loads, MAC checks, decryptions and parses.

#include "backups/backup_files.h"
#include "backups/history.h"
#include "backups/key_cache.h"
#include "db/backup.h"
#include "db/database.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr char kPassword[] = "benchmark password";
constexpr int kBackups = 1000;
constexpr std::size_t kBackupSize = 100 * 1024;

// Entries of about 50 bytes up to `size`; every save changes a note, and every tenth
// save the line "Bank password".
std::string document(int save, std::size_t size)
{
    std::string text = "Bank\r\n\tuser: me\r\n\tpassword: bank-" + std::to_string(save / 10) +
        "\r\nNotes\r\n\tsaved: " + std::to_string(save) + "\r\n";
    for (unsigned i = 0; text.size() < size; ++i)
        text += "Entry " + std::to_string(i) + "\r\n\tpassword: " + std::to_string(i * 2654435761u) + "\r\n";
    return text;
}

void BM_HistoryOver1000Backups(benchmark::State& state)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "glimkeep-bench-backups";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string vault = (folder / "passwords.gkv").string();
    {
        // One session writes them all: one salt, as the saves under one password do.
        Database db;
        db.set_password(kPassword, sizeof kPassword - 1);
        for (int save = 0; save < kBackups; ++save) {
            const std::string text = document(save, kBackupSize);
            db.set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
            if (db.save(backup_file_name(vault, 1600000000 + 3600LL * save)) != DB_OK) {
                state.SkipWithError(db.last_error().c_str());
                return;
            }
        }
    }
    const Tree current = parse_tree(document(kBackups, kBackupSize));
    const TreeNode* line = current.find("Bank password");
    std::vector<BackupFile> backups;
    list_backups(vault, backups);
    for (auto _ : state) {
        KeyCache password(kPassword, sizeof kPassword - 1);
        const HistoryReport report = read_history(backups, current, {line}, {&password}, false);
        if (report.read != kBackups || report.lines[0].values.size() != kBackups / 10 + 1) {
            state.SkipWithError("the history is not what the backups hold");
            break;
        }
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_HistoryOver1000Backups)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
