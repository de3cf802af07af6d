// The Open and Save As dialogs with the inactivity lock paused.

#include "ui/common/file_dialog.h"

#include <commdlg.h>

#include <cwchar>

#include "ui/common/inactivity.h"

std::wstring choose_file(HWND owner, FileDialog kind, const wchar_t* filter, const wchar_t* title,
                         const wchar_t* extension)
{
    // Room for long paths (the dialog writes at most nMaxFile characters).
    constexpr DWORD kPathUnits = 4096;
    const bool save = kind == FileDialog::kSave;
    std::wstring path(kPathUnits, L'\0');
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = &path[0];
    dialog.nMaxFile = kPathUnits;
    dialog.lpstrTitle = title;
    dialog.lpstrDefExt = extension;
    dialog.Flags =
        OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    const InactivityPause paused;
    const BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (!chosen) return std::wstring();
    path.resize(std::wcslen(path.c_str()));
    return path;
}
