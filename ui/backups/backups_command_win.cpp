// File > Backups... and the notice about many backups at open.

#include "ui/backups/backups_windows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "backups/backup_files.h"
#include "backups/key_cache.h"
#include "backups/thinning.h"
#include "platform/calendar_time.h"
#include "ui/common/ask_tell.h"
#include "ui/common/inactivity.h"
#include "ui/editor/editor_window.h"
#include "ui/passwords/quick_unlock.h"

namespace {

// Shown once per run of the program.
bool g_many_backups_mentioned = false;

// "1,310 backups beside this vault, 45.2 MB in all."
std::string summary(const std::vector<BackupFile>& backups)
{
    return with_thousands(backups.size()) + (backups.size() == 1 ? " backup" : " backups") + " beside this vault, " +
        size_in_words(total_size(backups)) + " in all.";
}

// Which backups the rule keeps; the password in use finds the backup it opens.
std::vector<bool> plan(const std::vector<BackupFile>& backups)
{
    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    const SecretString& password = editor_vault_password();
    KeyCache cache(password.data(), static_cast<std::uint32_t>(password.size()));
    std::vector<bool> keep = plan_thinning(backups, cache, calendar_now());
    SetCursor(previous);
    return keep;
}

std::string outcome(const ThinningResult& result, std::size_t total)
{
    std::string text = "Deleted " + with_thousands(result.deleted.size()) + " of " + with_thousands(total) +
        (total == 1 ? " backup." : " backups.");
    if (!result.still_readable.empty()) {
        text += "\r\n\r\n" + with_thousands(result.still_readable.size()) + " of format 1.0 " +
            (result.still_readable.size() == 1 ? "was" : "were") + " " + kStillReadableNote + ":";
        const std::size_t named = std::min<std::size_t>(result.still_readable.size(), 5);
        for (std::size_t i = 0; i < named; ++i) text += "\r\n" + result.still_readable[i];
        if (named < result.still_readable.size()) text += "\r\n...";
    }
    if (result.failed.empty()) return text;
    text += "\r\n\r\n" + with_thousands(result.failed.size()) + " could not be deleted:";
    const std::size_t named = std::min<std::size_t>(result.failed.size(), 5);
    for (std::size_t i = 0; i < named; ++i) text += "\r\n" + result.failed[i];
    if (named < result.failed.size()) text += "\r\n...";
    return text;
}

}  // namespace

void run_backups_command()
{
    std::vector<BackupFile> backups;
    if (int error_number = list_backups(editor_vault_path(), backups)) {
        editor_show_message(kBackupsCaption,
                            std::string("The vault's folder cannot be read: ") + std::strerror(error_number));
        return;
    }
    if (backups.empty()) {
        editor_show_message(kBackupsCaption, "No backups lie beside this vault.");
        return;
    }
    // The backups open under the master password, which a quick unlock does not hold.
    if (!ask_master_password_after_quick_unlock(editor_main_window())) return;
    // The question runs its own message loop: the lock must not close the editor under it.
    const InactivityPause paused;
    const std::vector<bool> keep = plan(backups);
    const std::size_t going = static_cast<std::size_t>(std::count(keep.begin(), keep.end(), false));
    if (going == 0) {
        editor_show_message(kBackupsCaption, summary(backups) + "\r\n\r\nThinning them out would delete none.");
        return;
    }
    if (!ask(editor_main_window(), kBackupsCaption,
             summary(backups) + "\r\n\r\n" + thinning_question(going, backups.size())))
        return;
    editor_show_message(kBackupsCaption, outcome(thin_out(backups, keep, editor_vault_path()), backups.size()));
}

void mention_many_backups_at_open() noexcept
{
    if (g_many_backups_mentioned) return;
    try {
        std::vector<BackupFile> backups;
        if (list_backups(editor_vault_path(), backups) != 0 || backups.size() <= kManyBackups) return;
        g_many_backups_mentioned = true;
        editor_show_message(kBackupsCaption, many_backups_notice(backups.size()));
    } catch (...) {
        // Out of memory: the notice comes at a later open.
    }
}
