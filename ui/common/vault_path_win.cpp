// Where the program's vault is; see vault_path.h.

#include "ui/common/vault_path.h"

#include <windows.h>

#include "db/database.h"
#include "ui/common/text.h"

namespace {

std::string g_vault_path = kDatabaseFileName;

}  // namespace

void fix_vault_path() noexcept
{
    try {
        wchar_t full[MAX_PATH * 4];
        const DWORD length = GetFullPathNameW(to_utf16(kDatabaseFileName).c_str(), MAX_PATH * 4, full, nullptr);
        if (length > 0 && length < MAX_PATH * 4) g_vault_path = to_narrow(std::wstring(full, length));
    } catch (...) {
    }
}

const std::string& vault_path() noexcept
{
    return g_vault_path;
}

void set_vault_path(const std::string& path)
{
    g_vault_path = path;
}
