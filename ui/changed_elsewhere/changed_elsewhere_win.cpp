// The editor and a vault that other programs write too; see changed_elsewhere.h.

#include "ui/changed_elsewhere/changed_elsewhere.h"

#include <commdlg.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "ui/window_entry_points.h"
#include "db/database.h"
#include "platform/file_io.h"
#include "vault/document_check.h"
#include "vault/vault_merge.h"
#include "resource.h"
#include "tree/merge.h"
#include "ui/editor/editor_window.h"
#include "ui/passwords/quick_unlock.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/common/file_dialog.h"
#include "ui/common/text.h"
#include "ui/common/error_texts.h"

namespace {

constexpr char kChangedElsewhereCaption[] = "Vault changed elsewhere";
constexpr char kConflictCopiesCaption[] = "Conflicting copies";
constexpr char kMergeCaption[] = "Merge from vault";
// open_other's reason when the open's message has been shown already.
constexpr char kHoldsZeroByte[] = "it holds a zero byte";

// A check, a merge or a question of this module runs: activations are not reloads.
bool g_busy = false;
// The unsaved document written to a conflicted copy, by its edit count; no second
// copy is written of the same state.
bool g_in_copy = false;
unsigned long long g_copy_edits = 0;
std::string g_copy_path;

struct Busy {
    Busy() { g_busy = true; }
    ~Busy() { g_busy = false; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
};

void wipe_strings(std::vector<std::string>& texts) noexcept
{
    for (std::string& text : texts)
        if (!text.empty()) secure_wipe(&text[0], text.size());
    texts.clear();
}

// The open's messages about a document read from `source` (a name for messages):
// false, after its message, when it holds a zero byte; the warning when it is not
// all UTF-8. Never throws.
bool checked_document_may_be_shown(const DocumentCheck& check, const std::string& source) noexcept
{
    try {
        if (check.has_zero) {
            MessageBeep(MB_ICONWARNING);
            editor_show_message(kErrorOpeningDatabase,
                                zero_byte_text(check) + "\r\nNothing was changed: the editor keeps its document, and " +
                                    source + " is as it was.");
            return false;
        }
        if (check.invalid_utf8 > 0) {
            MessageBeep(MB_ICONWARNING);
            editor_show_message(kNotUtf8Caption, invalid_utf8_text(check, source + " keeps the original text."));
        }
        return true;
    } catch (...) {
        return false;
    }
}

// The same for the vault's own text as the session read it.
bool vault_text_may_be_shown(const vault::Session& session, const vault::SessionReport& report) noexcept
{
    try {
        return checked_document_may_be_shown(report.check, file_name_of(session.path()));
    } catch (...) {
        return false;
    }
}

// The open's checks for the decrypted text of a file that `db` holds.
bool held_document_may_be_shown(const Database& db, const std::string& path)
{
    return document_may_be_shown(reinterpret_cast<const char*>(db.data()), db.data() ? db.data_length() : 0,
                                 file_name_of(path));
}

// The open window over the editor for a vault file `db` has loaded; the inactivity
// lock waits meanwhile.
bool ask_password(HWND owner, Database& db, SecretString& accepted, const wchar_t* title, const wchar_t* explanation)
{
    const InactivityPause paused;
    try {
        return run_vault_password_window(GetModuleHandleW(nullptr), owner, db, accepted, title, explanation);
    } catch (...) {
        return false;
    }
}

// The vault no longer opens with the password in use: the user types its current
// one, which the session takes only once the file opened with it (and the merge
// with `working` is done). kPasswordNeeded when nothing was typed.
vault::SessionReport ask_current_password(vault::Session& session, Tree& working)
{
    vault::SessionReport report;
    report.outcome = vault::SessionOutcome::kPasswordNeeded;
    Database trial;
    if (trial.load(session.path()) != DB_OK) return report;
    SecretString accepted;
    if (!ask_password(editor_main_window(), trial, accepted, L"Vault password changed",
                      L"The vault was saved elsewhere with another password. Please enter its current password."))
        return report;
    return session.take_password(accepted, working);
}

// A write that cannot merge: the document goes beside the vault, under the password
// in use; the vault stays as the other program left it.
void write_copy_instead(vault::Session& session, bool can_ask, const std::string& reason) noexcept
{
    try {
        std::string copy;
        std::string error;
        int status = DB_OK;
        if (g_in_copy && g_copy_edits == editor_edit_count()) {
            // This unsaved state sits in a copy already: one copy of it is enough.
            copy = g_copy_path;
        } else {
            vault::SessionReport written = session.write_copy(editor_document());
            status = written.status;
            copy = std::move(written.copy_path);
            error = std::move(written.error);
            if (status == DB_OK) {
                g_in_copy = true;
                g_copy_edits = editor_edit_count();
                g_copy_path = copy;
            }
        }
        if (!can_ask) return;
        MessageBeep(MB_ICONWARNING);
        const std::string why = "The vault was changed by another program since it was opened, and this "
                                "document could not be merged with it" +
            (reason.empty() ? std::string(".") : " (" + reason + ").");
        if (status == DB_OK) {
            editor_show_message(kChangedElsewhereCaption,
                                why + "\r\n\r\nThe vault was not replaced. This document was saved beside it as\r\n" +
                                    copy +
                                    "\r\nencrypted with the password in use; it is offered for merging when the "
                                    "vault is opened next. The editor keeps the document.");
        } else {
            editor_show_message(kChangedElsewhereCaption,
                                why +
                                    "\r\n\r\nThe vault was not replaced, and the copy beside it could not be "
                                    "written either: " +
                                    error + "\r\nThe editor keeps the document.");
        }
    } catch (...) {
    }
}

std::string names_list(const std::vector<std::string>& names)
{
    std::string out;
    for (const std::string& name : names) out += "\r\n    " + name;
    return out;
}

std::string kept_twice_text(const std::vector<std::string>& paths)
{
    if (paths.empty()) return std::string();
    return "\r\n\r\nChanged differently on both sides, kept twice (the other one right after this one's; "
           "delete the one you do not want):" +
        names_list(paths);
}

// Opens another vault file: with the password in use, else with the one the user
// types for it. False when it was not opened (`reason` says why; empty: cancelled).
bool open_other(HWND owner, const std::string& path, Tree& document, std::string& reason)
{
    Database other;
    int status = other.load(path);
    if (status == DB_OK) {
        const SecretString& password = editor_vault_password();
        other.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
        status = other.decrypt();
    }
    if (status == DB_WRONG_PASSWORD) {
        SecretString accepted;
        const std::wstring explanation =
            to_utf16(file_name_of(path)) + L" does not open with the vault's password. Please enter its own.";
        if (!ask_password(owner, other, accepted, L"Another vault", explanation.c_str())) {
            reason.clear();
            return false;
        }
    } else if (status != DB_OK) {
        reason = other.last_error();
        return false;
    }
    if (!held_document_may_be_shown(other, path)) {
        reason = kHoldsZeroByte;
        return false;
    }
    wipe_tree(document);
    document = parse_plaintext(other);
    return true;
}

// The file names of paths, for messages.
std::vector<std::string> file_names(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const std::string& path : paths) names.push_back(file_name_of(path));
    return names;
}

}  // namespace

bool document_may_be_shown(const char* bytes, std::size_t size, const std::string& source) noexcept
{
    return checked_document_may_be_shown(check_document(bytes, size), source);
}

bool unsaved_document_in_copy() noexcept
{
    return editor_has_unsaved_changes() && g_in_copy && g_copy_edits == editor_edit_count();
}

void begin_vault_session(const Tree& document)
{
    g_in_copy = false;
    if (vault::Session* session = editor_session()) session->adopt(document);
}

void end_vault_session() noexcept
{
    g_in_copy = false;
    if (vault::Session* session = editor_session()) session->close();
}

bool fold_in_changes_elsewhere(bool can_ask, vault::SessionReport* merge) noexcept
{
    if (merge) {
        merge->outcome = vault::SessionOutcome::kUnchanged;
        wipe_strings(merge->kept_twice);
    }
    vault::Session* session = editor_session();
    if (!session) return true;
    if (g_busy) {
        // A save from inside a check or a merge (the session ends while a password
        // is asked): the vault is not written, the document goes beside it.
        write_copy_instead(*session, false, std::string());
        return false;
    }
    Busy busy;
    try {
        // An unknown fingerprint (it could not be read after the last save) counts
        // as a change: the file is read and merged again.
        // A copy of the editor's document that the session works on.
        WipedTree working(editor_document());
        vault::SessionReport report = session->merge_before_save(working.tree);
        if (report.outcome == vault::SessionOutcome::kPasswordNeeded && can_ask)
            report = ask_current_password(*session, working.tree);
        switch (report.outcome) {
        case vault::SessionOutcome::kWrittenAnew: return true;  // a deleted vault is written anew
        case vault::SessionOutcome::kUnchanged:
        case vault::SessionOutcome::kMerged:
            // Read from the file (not the fingerprint alone): its format may have changed,
            // and text that is not UTF-8 is warned of before any of it is shown.
            if (can_ask) vault_text_may_be_shown(*session, report);
            update_upgrade_item();
            if (report.outcome == vault::SessionOutcome::kUnchanged) return true;
            editor_replace_document(std::move(working.tree));
            if (!(editor_document() == session->base())) mark_changed();
            if (merge) *merge = std::move(report);
            return true;
        case vault::SessionOutcome::kRefused:
            // The file's text must pass the open's checks before any of it is shown
            // or written; refused, nothing is written at all.
            if (can_ask) vault_text_may_be_shown(*session, report);
            return false;
        case vault::SessionOutcome::kPasswordNeeded:
            write_copy_instead(*session, can_ask, "it no longer opens with the password in use");
            return false;
        default: write_copy_instead(*session, can_ask, report.error); return false;
        }
    } catch (...) {
    }
    write_copy_instead(*session, can_ask, std::string());
    return false;
}

std::string saved_text(vault::SessionReport& merge)
{
    std::string text = "All data has been encrypted and was saved.";
    if (merge.outcome == vault::SessionOutcome::kMerged) {
        text += "\r\n\r\nThe vault had been changed by another program since it was opened; those changes were "
                "merged into this document before it was saved." +
            kept_twice_text(merge.kept_twice);
        merge.outcome = vault::SessionOutcome::kUnchanged;
        wipe_strings(merge.kept_twice);
    }
    return text;
}

void offer_to_delete_merged_copies() noexcept
{
    vault::Session* session = editor_session();
    if (!session || session->copies_taken().empty() || editor_has_unsaved_changes()) return;
    try {
        const std::vector<std::string> copies = session->copies_taken();
        session->forget_copies_taken();
        const std::string text = "These copies were merged into the vault and saved:" + names_list(file_names(copies)) +
            "\r\n\r\nDelete the merged copies? (They are overwritten with zeros first.)";
        if (!ask(editor_main_window(), "Delete the merged copies?", text)) return;
        std::vector<std::string> failed;
        for (const std::string& copy : copies)
            if (db_file::erase_file(copy) != 0) failed.push_back(file_name_of(copy));
        if (!failed.empty()) editor_show_message(kConflictCopiesCaption, "Could not delete:" + names_list(failed));
    } catch (...) {
    }
}

void reload_if_changed_elsewhere(HWND window) noexcept
{
    vault::Session* session = editor_session();
    if (!session || g_busy || editor_has_unsaved_changes() || !editor_has_box()) return;
    if (!IsWindowEnabled(window)) return;  // under a modal window: at the next activation
    Busy busy;
    try {
        // Unreadable now (another program holds it): tried again at the next activation.
        if (session->check_unchanged().outcome != vault::SessionOutcome::kChanged) return;
        // A copy of the editor's document that the session works on.
        WipedTree working(editor_document());
        const vault::SessionReport report = session->reload_if_changed(working.tree);
        switch (report.outcome) {
        case vault::SessionOutcome::kReloaded:
        case vault::SessionOutcome::kRefused:
            update_upgrade_item();
            if (!vault_text_may_be_shown(*session, report)) return;  // not read again until it changes
            // Without a fingerprint the file is read even when it holds what the editor
            // shows: then the editor box stays as it is, caret and all.
            if (!(working.tree == editor_document())) editor_replace_document(std::move(working.tree));
            return;
        case vault::SessionOutcome::kPasswordNeeded:
        case vault::SessionOutcome::kFailed:
            // The user types the vault's current password, as after the inactivity lock.
            editor_close_for_password();
            return;
        default: return;  // gone, or refused before: nothing to show
        }
    } catch (...) {
    }
}

void merge_from_vault_file(HWND window)
{
    const std::wstring file = choose_file(
        window, FileDialog::kOpen, L"Glimkeep vaults (*.gkv)\0*.gkv\0All files (*.*)\0*.*\0", L"Merge from vault");
    if (file.empty()) return;
    // The other vault is tried with the master password, which a quick unlock does not hold.
    if (!ask_master_password_after_quick_unlock(window)) return;
    const std::string path = to_narrow(file);

    Busy busy;
    store_editor_text();
    Tree other;
    std::string reason;
    if (!open_other(window, path, other, reason)) {
        wipe_tree(other);
        if (!reason.empty() && reason != kHoldsZeroByte)
            editor_show_message(kMergeCaption, path + " could not be opened: " + reason);
        return;
    }
    TreeMerge merge = merge_two_way(editor_document(), other);
    wipe_tree(other);
    if (merge.merged == editor_document()) {
        editor_show_message(kMergeCaption, path + " holds nothing that this vault does not.");
        return;
    }
    const std::string kept = kept_twice_text(merge.kept_twice);
    Tree merged = std::move(merge.merged);
    editor_replace_document(std::move(merged));
    mark_changed();
    editor_show_message(kMergeCaption, path + " was merged into this document; save to keep the result." + kept);
}

void offer_conflict_copies(HWND window)
{
    vault::Session* session = editor_session();
    if (!session) return;
    Busy busy;
    std::vector<std::string> copies;
    if (find_conflict_copies(session->path(), copies) != 0 || copies.empty()) return;
    const std::string question = copies.size() == 1
        ? std::string("1 conflicting copy of this vault was found beside it. Merge it into the vault?")
        : std::to_string(copies.size()) +
            " conflicting copies of this vault were found beside it. Merge them into the vault?";
    if (!ask(window, kConflictCopiesCaption, question + "\r\n" + names_list(file_names(copies)))) return;
    if (!ask_master_password_after_quick_unlock(window)) return;

    store_editor_text();
    Tree document = editor_document();
    std::vector<std::string> merged;
    std::vector<std::string> skipped;
    std::vector<std::string> kept;
    for (const std::string& copy : copies) {
        Tree other;
        std::string reason;
        if (!open_other(window, copy, other, reason)) {
            skipped.push_back(file_name_of(copy) + (reason.empty() ? std::string() : ": " + reason));
            continue;
        }
        vault::SessionReport taken = session->merge_copy(copy, other, document);
        wipe_tree(other);
        for (std::string& path : taken.kept_twice) kept.push_back(std::move(path));
        merged.push_back(copy);
    }
    std::string text;
    if (!merged.empty())
        text += "Merged into this document (save to keep the result):" + names_list(file_names(merged));
    if (!skipped.empty()) text += (text.empty() ? "" : "\r\n\r\n") + std::string("Not merged:") + names_list(skipped);
    text += kept_twice_text(kept);
    wipe_strings(kept);
    if (!(document == editor_document())) {
        editor_replace_document(std::move(document));
        mark_changed();
    }
    wipe_tree(document);
    editor_show_message("Conflicting copies merged", text);
    // Copies that added nothing can go at once, after the same question.
    if (!editor_has_unsaved_changes()) offer_to_delete_merged_copies();
}
