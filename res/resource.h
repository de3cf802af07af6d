#pragma once
// Numbers shared by the resource script and the code.

#define IDI_APP                 201  // program icon, every window
#define IDC_CREATE_DB           202  // "Create database" button
#define IDC_OPEN_DB             203  // "Open database" button
#define IDM_SAVE                204  // File > Save, Ctrl+S
#define IDM_EXIT                205  // File > Exit
#define IDM_HELP                207  // Help > Information and usage
#define IDM_WEBSITE             208  // Help > Visit website
#define IDD_MESSAGE             209  // empty template of the message dialog
#define IDR_ACCELERATORS        210  // editor window accelerators
#define IDB_CREATE_DB           211  // 32x32 picture of the first-run window
#define IDB_DECRYPT_DB          212  // 32x32 picture of the open window
#define IDA_SWITCH_FOCUS        213  // Ctrl+Tab
#define IDA_FOCUS_FILTER        214  // Alt+1
#define IDA_FOCUS_EDITOR        215  // Alt+2
#define IDT_INACTIVITY          216  // editor inactivity timer
#define IDM_UPGRADE             217  // File > Upgrade vault format...
#define IDM_CHANGE_PASSWORD     218  // File > Change master password...; its window's button
#define IDM_LOCK                219  // File > Lock, Ctrl+L
#define IDM_GENERATE            220  // Edit > Insert generated password, Ctrl+G
#define IDM_FIND                221  // Edit > Find..., Ctrl+F
#define IDM_GENERATE_PASSPHRASE 228  // Edit > Insert generated passphrase, Ctrl+Shift+G
#define IDA_FIND_NEXT           222  // F3
#define IDT_CLIPBOARD           223  // clears the clipboard after a copy
#define IDM_ONE_TIME_CODE       230  // Edit > Copy one-time code, Ctrl+T
#define IDM_IMPORT_CSV          235  // File > Import from CSV...
#define IDM_EXPORT_CSV          236  // File > Export to CSV...
#define IDM_MERGE_FROM_VAULT    240  // File > Merge from vault...
#define IDM_NOT_LOCKED_NOTICE   250  // posted: a lock for the user's absence could not save
#define IDC_UPGRADE_PASSWORD    251  // the upgrade window's button
#define IDM_TYPE_PREVIOUS       260  // Edit > Type into previous window, Ctrl+Enter in the filter box
#define IDM_BACKUPS             270  // File > Backups...
#define IDM_EARLIER_VALUES      271  // Edit > Earlier values..., Ctrl+Shift+H
#define IDM_PASSWORD_REPORT     272  // File > Password report...
