#pragma once
// The editor as the other windows reach it: the document, the node shown, the
// vault, the changed flag, messages, the save. The editor window's own files
// (ui/editor/) own its state (editor_state.h); every other window reads and changes
// it only through the functions declared here.
//
// One editor window exists at a time, and every function here runs on the
// user-interface thread only.

#include <windows.h>

#include <string>
#include <vector>

#include "crypto/wipe.h"
#include "tree/tree.h"
#include "ui/common/ask_tell.h"
#include "ui/common/inactivity.h"

class Database;
namespace vault {
class Session;
}

// The product name: the editor's title, and after "* " its title with unsaved changes.
inline constexpr char kProductName[] = "Glimkeep";
inline constexpr char kChangedTitle[] = "* Glimkeep";

// The editor window, its filter box; null when no editor is open.
HWND editor_main_window() noexcept;
HWND editor_filter_box() noexcept;
// True while the editor box exists (from the window's creation to its destruction).
bool editor_has_box() noexcept;
// The vault of this run of the editor, and its session (vault/session.h); null when
// none runs.
Database* editor_database() noexcept;
vault::Session* editor_session() noexcept;
// The whole document. The changed-elsewhere flow merges into it in place; everything
// else only reads it.
Tree& editor_document() noexcept;
// The node the editor box shows: the root or a node inside it; null while none is.
TreeNode* editor_node_shown() noexcept;
// The whole document and the node the editor box shows (the root when the filter
// names no other), with the box's text stored into it first; `node` is null when
// the editor holds no document.
struct ShownDocument {
    const Tree* document = nullptr;
    const TreeNode* node = nullptr;
};
ShownDocument editor_shown_document();
// The vault's full path.
const std::string& editor_vault_path() noexcept;
// The password that opened the vault (or the one it was last saved under): the
// session's password in use; empty when it holds none (opened by quick unlock).
const SecretString& editor_vault_password() noexcept;
// True while unsaved changes exist.
bool editor_has_unsaved_changes() noexcept;
// Changes of the document in this run, saved or not: a mark of the unsaved state.
unsigned long long editor_edit_count() noexcept;
// Puts `document` in the place of the editor's (the old one wiped) and shows it: the
// filter text stays, and the node it names is shown when it still exists, else the
// whole document. Never counts as a change.
void editor_replace_document(Tree&& document);
// Ends the run of the editor as the inactivity lock does, so that the vault's
// password is asked again (posted: the editor closes once this message returns).
void editor_close_for_password() noexcept;

// Shows a message over the editor window (the message dialog) and records it in
// g_editor_messages (ui/common/ask_tell.h), which each run of the editor clears.
// Never throws: a failure to show it is swallowed.
void editor_show_message(const std::string& caption, const std::string& text) noexcept;

// Writes the editor box's text back into the node shown, the way show_node put it
// there: its value when the box holds the value, otherwise the node's children (parsed
// from the text), whatever the node's flag says meanwhile. The node keeps its place.
void store_editor_text();
// Records that unsaved changes exist; the title becomes "* Glimkeep" at the first one.
void mark_changed();
// "Upgrade vault format..." is enabled only while the vault saves format 1.0; called
// after every load of the vault.
void update_upgrade_item();
// Shows `node` in the editor box: its bare content when single-line, otherwise its
// subtree with its children at the margin, and records which of the two the box
// holds. Never counts as a change. False when the box did not take the text.
bool show_node(const TreeNode* node);

// Shows an entry picked elsewhere (the password report): the filter box gets `path`
// and the editor shows what it names; when that is another node (an earlier entry of
// the same name), the editor shows the chosen node itself until the filter text
// changes. The node is given by its `position` (the index of each node on the way
// down from the root), since storing the editor's text replaces the nodes below the
// node shown by equal ones.
void show_chosen_entry(const std::string& path, const std::vector<std::size_t>& position);

// The save command: store, then the vault pipeline (backup, serialize, encrypt and
// write), then report. Does nothing when there are no unsaved changes. Never throws.
void save_database() noexcept;
// The same save while the session ends: backup, store, write, with no message shown.
// True when nothing is left unsaved. Never throws.
bool save_database_quietly() noexcept;
// What save_document writes: the document, or the document under a new password, or
// the document as format 2.0. The last two write nothing without their backup.
enum class SaveKind { kDocument, kNewPassword, kUpgrade };
// The save without the check for unsaved changes (the password change and the
// upgrade write at once); true when the vault was written. `password` is the new
// password of kNewPassword and of kUpgrade (null: the upgrade keeps the password).
// Never throws.
bool save_document(SaveKind kind = SaveKind::kDocument, const SecretString* password = nullptr) noexcept;
