#pragma once
// The editor and the vault's backups: File > Backups... (their count and size, and
// thinning them out on request), the notice at open when many lie beside the vault,
// and the earlier values of the node shown (Ctrl+Shift+H, Edit > Earlier values...).
// The rules are the backups library's; this folder holds the windows. User-interface
// thread only.

#include <windows.h>

#include <cstddef>

inline constexpr char kBackupsCaption[] = "Backups";
inline constexpr wchar_t kEarlierValuesClass[] = L"earlier_values";

// File > Backups...: the count and total size of the backups, and the question
// whether to thin them out (default No); Yes deletes what the rule lets go and says
// how many went. The thinning keeps the newest 2.0 backup that opens with the
// password in use.
void run_backups_command();

// At open, after the other questions: the notice that more than kManyBackups
// backups lie beside the vault, pointing at File > Backups. Once per run of the
// program. Never throws.
void mention_many_backups_at_open() noexcept;

// Opens the list of the earlier values of the node shown (its lines' values when it
// is an entry), read from the backups with the password in use; one open at a time
// (an open one is replaced). Rows of the password lines and `pin` show dots except
// the selected one; Enter or a double click copies the selected value as Enter in
// the filter box does; Escape closes. Nothing read stays once it is closed.
void open_earlier_values();
// Closes it, its rows wiped; nothing when it is not open.
void close_earlier_values() noexcept;
// The list window while it is open, else null.
HWND earlier_values_window() noexcept;
// The number of rows listed (for tests).
std::size_t earlier_values_rows() noexcept;
