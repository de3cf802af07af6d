// Quick unlock in the program; see quick_unlock.h.

#include "ui/passwords/quick_unlock.h"

#include "autotype/lock_settings.h"
#include "autotype/settings.h"
#include "db/database.h"
#include "resource.h"
#include "ui/common/vault_path.h"
#include "ui/common/inactivity.h"
#include "ui/common/text.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/editor/editor_window.h"
#include "ui/window_entry_points.h"
#include "vault/kept_keys.h"
#include "vault/session.h"

namespace {

constexpr std::uint64_t kMillisecondsPerHour = 3600u * 1000u;

constexpr wchar_t kWrongCodeReason[] = L"Quick unlock ended: a wrong code was typed. Please enter the full master "
                                       L"password.";
constexpr wchar_t kRekeyedReason[] = L"Quick unlock ended: the vault's password changed. Please enter the full "
                                     L"master password.";
constexpr wchar_t kFailedReason[] = L"Quick unlock could not be used. Please enter the full master password.";
constexpr wchar_t kSuspendReason[] = L"Quick unlock ended when the computer was suspended. Please enter the full "
                                     L"master password.";

LockSettings g_settings;
KeptKeys g_kept;
bool g_opened_by_code = false;
// Why the open window asks for the full password next (empty: it need not say).
std::wstring g_reason;

std::wstring expired_reason()
{
    return L"Quick unlock ended after " + std::to_wstring(g_settings.quick_unlock_hours) +
        L" hours. Please enter the full master password.";
}

// The reason for a result that wiped what was kept.
std::wstring reason_of(KeptKeysResult result)
{
    switch (result) {
    case KeptKeysResult::kWrongCode: return kWrongCodeReason;
    case KeptKeysResult::kExpired: return expired_reason();
    case KeptKeysResult::kRekeyed: return kRekeyedReason;
    case KeptKeysResult::kNothingKept: return std::wstring();
    default: return kFailedReason;
    }
}

}  // namespace

void load_lock_settings() noexcept
{
    try {
        g_settings = read_lock_settings_file(settings_path_beside(vault_path()));
        if (!g_settings.problem.empty()) show_message(nullptr, kSettingsFileName, g_settings.problem);
    } catch (...) {
        g_settings = LockSettings();
    }
}

void note_full_unlock(const SecretString& password, const Database& db) noexcept
{
    g_opened_by_code = false;
    g_reason.clear();
    g_kept.wipe();
    if (g_settings.quick_unlock_length == 0 || db.legacy_format()) return;
    try {
        const SecretString code = quick_unlock_code(password, g_settings.quick_unlock_length);
        std::uint8_t keys[format_v2::kKeysSize];
        WipeOnExit wipe_keys(keys, sizeof keys);
        if (code.empty() || !db.copy_session_keys(keys)) return;
        const KeptKeysSeams seams = process_kept_keys_seams();
        g_kept.keep(keys, db.salt(), db.iterations(), code.data(), code.size(),
                    seams.now() + g_settings.quick_unlock_hours * kMillisecondsPerHour);
    } catch (...) {
        g_kept.wipe();
    }
}

void note_editor_locked(const Database& db) noexcept
{
    g_opened_by_code = false;
    if (!g_kept.kept()) return;
    std::uint8_t keys[format_v2::kKeysSize];
    WipeOnExit wipe_keys(keys, sizeof keys);
    // A password changed or a format upgraded in the editor: other keys, no quick unlock.
    if (!db.copy_session_keys(keys)) {
        g_kept.wipe();
        return;
    }
    const KeptKeysResult state = g_kept.check(db.salt(), db.iterations());
    if (state != KeptKeysResult::kKept) g_reason = reason_of(state);
}

void end_quick_unlock(const wchar_t* reason) noexcept
{
    try {
        if (g_kept.kept() && reason) g_reason = reason;
    } catch (...) {
    }
    g_kept.wipe();
}

void end_quick_unlock_at_suspend() noexcept
{
    end_quick_unlock(kSuspendReason);
}

unsigned quick_unlock_code_length(const Database& db, std::wstring& reason) noexcept
{
    try {
        reason.clear();
        const KeptKeysResult state = g_kept.check(db.salt(), db.iterations());
        if (state == KeptKeysResult::kKept) return g_kept.code_length();
        reason = state == KeptKeysResult::kNothingKept ? g_reason : reason_of(state);
        g_reason.clear();
    } catch (...) {
        g_kept.wipe();
    }
    return 0;
}

bool open_with_code(Database& db, const SecretString& code, std::wstring& reason) noexcept
{
    try {
        reason.clear();
        std::uint8_t keys[format_v2::kKeysSize];
        WipeOnExit wipe_keys(keys, sizeof keys);
        const KeptKeysResult result = g_kept.open(code.data(), code.size(), db.salt(), db.iterations(), keys);
        if (result == KeptKeysResult::kOpened && db.decrypt_with_keys(keys) == DB_OK) {
            g_opened_by_code = true;
            return true;
        }
        reason = result == KeptKeysResult::kOpened ? std::wstring(kFailedReason) : reason_of(result);
    } catch (...) {
    }
    g_kept.wipe();
    return false;
}

bool opened_by_quick_unlock() noexcept
{
    return g_opened_by_code;
}

bool ask_master_password_after_quick_unlock(HWND owner) noexcept
{
    if (!g_opened_by_code) return true;
    Database* db = editor_database();
    if (!db) return false;
    bool given = false;
    // The password window runs its own message loop over the editor.
    const InactivityPause paused;
    try {
        SecretString accepted;
        given = run_vault_password_window(GetModuleHandleW(nullptr), owner, *db, accepted, L"Master password needed",
                                          L"This vault was opened with quick unlock, which does not keep the master "
                                          L"password. Please enter it for this action.");
        if (given) {
            if (vault::Session* session = editor_session()) session->use_password(accepted);
            g_opened_by_code = false;
        }
    } catch (...) {
        given = false;
    }
    return given;
}
