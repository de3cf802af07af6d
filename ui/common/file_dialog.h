#pragma once
// The system's Open and Save As dialogs over a window that may lock itself: the
// inactivity lock waits while they run, and the working folder stays where it is
// (the vault is found there). User-interface thread only.

#include <windows.h>

#include <string>

enum class FileDialog {
    kOpen,  // an existing file
    kSave,  // a new name, or an existing file after the system asked to replace it
};

// The full path of the file the user chose, or empty when the dialog was cancelled.
// `filter` is the dialog's list of pairs, doubly terminated; `title` null gives the
// system's; `extension` (null: none) is added to a name typed without one.
std::wstring choose_file(HWND owner, FileDialog kind, const wchar_t* filter, const wchar_t* title,
                         const wchar_t* extension = nullptr);
