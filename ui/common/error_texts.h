#pragma once
// The captions and texts of the program's error messages, in one place. UTF-8 for the
// message dialog; the few that the system message box shows when memory or the
// windows themselves fail are wide, so that showing them allocates nothing.

// Captions.
inline constexpr char kErrorCaption[] = "Error";
inline constexpr wchar_t kErrorCaptionW[] = L"Error";
inline constexpr char kErrorCreatingDatabase[] = "Error creating database";
inline constexpr char kErrorDecryptingDatabase[] = "Could not decrypt database";
inline constexpr char kErrorChangingPassword[] = "Error changing password";
inline constexpr char kErrorOpeningDatabase[] = "Error opening database";
inline constexpr char kErrorLoadingDatabase[] = "Error loading database";
inline constexpr char kErrorSavingData[] = "Error saving data";
inline constexpr char kWrongPasswordCaption[] = "Wrong password";
inline constexpr char kPasswordNotChangedCaption[] = "Password not changed";
inline constexpr char kNotUtf8Caption[] = "Text is not valid UTF-8";
inline constexpr char kTextNotFoundCaption[] = "Text not found";
inline constexpr char kSamePasswordCaption[] = "Same password";
inline constexpr char kMultipleLinesCaption[] = "Multiple lines not allowed";

// Texts.
inline constexpr char kEmptyMasterPassword[] = "The master password is empty.";
inline constexpr char kWrongPassword[] = "The given password is wrong. Please try again.";
inline constexpr char kPasswordNotChanged[] = "The vault could not be saved, so its master password stays the old one.";
inline constexpr char kOperationFailed[] = "The operation could not be completed.";
inline constexpr char kOperationOutOfMemory[] = "There is not enough memory to complete the operation.";
inline constexpr char kEditorOutOfMemory[] = "Out of memory. Your text is still in the editor; nothing was lost.";
inline constexpr char kEditorUnexpected[] =
    "An unexpected error occurred. Your text is still in the editor; nothing was lost.";
inline constexpr char kEntryNotShown[] = "The entry could not be shown. Your text is still in the editor.";
inline constexpr char kSaveOutOfMemory[] = "Out of memory while preparing the data. Your text is still in the editor.";
inline constexpr char kSaveUnexpected[] =
    "An unexpected error occurred while saving. Your text is still in the editor.";
inline constexpr char kSaveUnexpectedFailure[] = "Unexpected failure.";
inline constexpr char kNoDatabaseOpen[] = "No database is open.";
inline constexpr char kRandomFailed[] = "The random number generator failed. No password was inserted.";
inline constexpr char kCopyFailed[] = "The text could not be copied to the clipboard.";
inline constexpr char kFindDialogFailed[] = "The Find dialog could not be opened.";
inline constexpr char kTextNotFound[] = "The text was not found in the entry shown.";
inline constexpr char kSingleLineValue[] = "You are currently editing a value field that only has one line.";

// The system message box's texts.
inline constexpr wchar_t kRegisterClassFailed[] = L"RegisterClassEx failed";
inline constexpr wchar_t kCreateWindowFailed[] = L"CreateWindowEx failed";
inline constexpr wchar_t kNotDecrypted[] = L"The database has not been decrypted.";
inline constexpr wchar_t kOutOfMemory[] = L"Out of memory";
inline constexpr wchar_t kNotEnoughMemoryToContinue[] = L"There is not enough memory to continue.";
inline constexpr wchar_t kUnexpectedEnd[] = L"An unexpected failure ended the program.";
