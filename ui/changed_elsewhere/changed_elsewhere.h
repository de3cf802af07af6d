#pragma once
// The editor and a vault that other programs write too: the check before every
// write, the merge of what they wrote, the conflicted copy when that cannot be,
// the quiet reload, File > Merge from vault..., and the conflict copies that
// synchronisation programs leave beside the vault: the questions and messages. The
// vault's session (vault/session.h: the base, the fingerprint, the password in use,
// the copies taken), which reads, merges and writes, is the editor's for its run
// (editor_session()). User-interface thread only.

#include <windows.h>

#include <cstddef>
#include <string>

#include "tree/tree.h"
#include "vault/session.h"

// The open's checks for a document about to come into the editor from the file
// `source` (a name for messages): false, after the open's message, when it holds a
// zero byte (nothing may be replaced or written then); the open's warning when it is
// not all UTF-8. Never throws.
bool document_may_be_shown(const char* bytes, std::size_t size, const std::string& source) noexcept;

// True when the unsaved document, exactly as it stands, was written to a conflicted
// copy beside the vault: it is safe there, and the editor may lock without it.
bool unsaved_document_in_copy() noexcept;

// The editor's run over its session: the document loaded becomes the base of later
// merges; at the end the session is closed (the base and the password wiped, the
// fingerprint forgotten: the next run's load takes it again).
void begin_vault_session(const Tree& document);
void end_vault_session() noexcept;

// Before any write of the vault by the editor, with the editor's text stored: when
// the file changed since the base, merges it into the document (asking for the
// vault's current password when `can_ask` and the password in use does not open
// it). True when the vault may be written now (the document is what to write).
// False when it must not be: the document was written to a conflicted copy beside
// the vault instead (the user told when `can_ask`), or the file's text was refused.
// `merge`, when given, receives what was merged (kMerged), for saved_text. The
// write itself is the session's (vault::Session::write and its siblings). Never
// throws.
bool fold_in_changes_elsewhere(bool can_ask, vault::SessionReport* merge = nullptr) noexcept;
// The text of "Data successfully saved", which names what the fold's `merge` kept
// twice; those names are wiped then.
std::string saved_text(vault::SessionReport& merge);
// After a save that the user saw: "Delete the merged copies?" when conflict copies
// were merged in this run. Never throws.
void offer_to_delete_merged_copies() noexcept;

// The editor window became active: with nothing unsaved and the file changed, the
// document is reloaded with the password in use, or the editor locks when that
// fails. Never throws.
void reload_if_changed_elsewhere(HWND window) noexcept;
// File > Merge from vault...: another vault file merged into the document by the
// two-way merge, as an unsaved change.
void merge_from_vault_file(HWND window);
// At open, before any other question: conflict copies beside the vault, merged into
// the document on Yes.
void offer_conflict_copies(HWND window);
