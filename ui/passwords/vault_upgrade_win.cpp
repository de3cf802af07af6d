// The upgrade to format 2.0 and the 1.0 backups it leaves behind.

#include "ui/passwords/vault_upgrade.h"

#include <cstdint>
#include <string>
#include <vector>

#include "db/database.h"
#include "db/legacy_backups.h"
#include "resource.h"
#include "ui/common/vault_path.h"
#include "ui/common/ask_tell.h"
#include "ui/common/inactivity.h"
#include "ui/editor/editor_window.h"
#include "ui/dialogs/message_dialog.h"

namespace {

constexpr char kUpgradeCaption[] = "Upgrade vault format?";
constexpr char kUpgradeText[] = "This vault uses the old format 1.0. Its encryption repeats one 16-byte block of key "
                                "stream, so anyone with a copy of the file or of a backup can read it without the "
                                "password.\r\n\r\n"
                                "Upgrading asks for a new master password and saves the vault at once in format 2.0 "
                                "under it (a backup of the 1.0 file is made first). Versions of Glimkeep before 1.1 "
                                "cannot open format 2.0.\r\n\r\n"
                                "Upgrade now?";
constexpr char kLegacyBackupsCaption[] = "Backups of format 1.0";

// Asked at most once per run of the program: No keeps the backups until a later run.
bool g_legacy_backups_asked = false;
// The open window's finding: a 1.0 backup opens with the password typed.
bool g_opening_password_in_backup = false;

void ask_about(HWND window, const std::vector<std::string>& backups, bool password_exposed)
{
    g_legacy_backups_asked = true;
    if (backups.empty()) return;
    const std::string text = legacy_backups_question(backups.size(), password_exposed);
    MessageBeep(MB_ICONWARNING);
    if (!ask(window, kLegacyBackupsCaption, text)) return;
    std::size_t still_readable = 0;
    const std::size_t failed = erase_legacy_backups(backups, vault_path(), still_readable);
    if (failed > 0)
        editor_show_message(kLegacyBackupsCaption,
                            std::to_string(failed) + " of the backups could not be deleted; delete them by hand.");
    if (still_readable > 0)
        editor_show_message(kLegacyBackupsCaption,
                            std::to_string(still_readable) +
                                " of the backups were deleted but not overwritten: another name (a hard link) "
                                "still leads to their format 1.0 contents. Delete that name too.");
}

}  // namespace

bool upgrade_vault(HWND window)
{
    Database* db = editor_database();
    if (!db || !db->legacy_format()) return false;
    MessageBeep(MB_ICONWARNING);
    if (!ask(window, kUpgradeCaption, kUpgradeText)) return false;
    SecretString password;
    // The window runs its own message loop: the inactivity lock must not close the
    // editor underneath it.
    bool given = false;
    {
        const InactivityPause paused;
        given = run_upgrade_password_window(GetModuleHandleW(nullptr), window, password);
    }
    // The editor's save (the check for changes made elsewhere, a backup of the 1.0
    // file, then the vault); a failure leaves the container as it was, 1.0 under the
    // old password.
    // The session takes the new password with the write.
    if (!given || !save_document(SaveKind::kUpgrade, &password)) return false;
    const std::vector<std::string> backups = legacy_backups(vault_path());
    ask_about(window, backups, any_opens_with(backups, password.data(), static_cast<std::uint32_t>(password.size())));
    return true;
}

void ask_about_legacy_backups_at_open(HWND window, const Database& db) noexcept
{
    if (g_legacy_backups_asked || db.legacy_format()) return;
    try {
        ask_about(window, legacy_backups(vault_path()), g_opening_password_in_backup);
    } catch (...) {
        // Out of memory: the backups stay, and the question comes in a later run.
    }
}

void note_opening_password(const SecretString& password, const Database& db) noexcept
{
    g_opening_password_in_backup = false;
    if (g_legacy_backups_asked || db.legacy_format()) return;
    try {
        g_opening_password_in_backup =
            any_opens_with(legacy_backups(vault_path()), password.data(), static_cast<std::uint32_t>(password.size()));
    } catch (...) {
        // Out of memory: the question comes without the remark.
    }
}
