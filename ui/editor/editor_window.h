#pragma once
// Internal to the editor window, its two subclassed boxes and the save command.
//
// All editor state is module-level: one editor window exists at a time, and every
// function here runs on the user-interface thread only.

#include <windows.h>

#include <string>
#include <vector>

#include "crypto/wipe.h"
#include "tree/tree.h"
#include "ui/editor/editor_options.h"
#include "ui/common/gdi.h"

class Database;

// The product name: the editor's title, and after "* " its title with unsaved changes.
inline constexpr char kProductName[] = "Glimkeep";
inline constexpr char kChangedTitle[] = "* Glimkeep";

struct EditorState {
    HWND main_window = nullptr;
    HWND filter_box = nullptr;
    HWND editor_box = nullptr;
    WNDPROC previous_filter_proc = nullptr;
    WNDPROC previous_editor_proc = nullptr;
    HMENU menu_bar = nullptr;
    HMENU file_menu = nullptr;
    HMENU help_menu = nullptr;
    Brush strip_brush;
    Font text_font;
    Database* database = nullptr;  // borrowed for one run of the window
    TreeNode* node_shown = nullptr;  // the root or a node inside it
    bool box_holds_value = false;  // the editor box holds the node's value, not its descendants
    bool changed = false;  // unsaved changes exist
    unsigned long long edits = 0;  // changes of the document in this run, saved or not
    bool timed_out = false;  // closed by the inactivity timer: the run's result
    unsigned pending_indent = 0;  // tabs to insert after the line break just typed
    bool setting_editor_text = false;  // the program itself is replacing the editor's text
    bool swallow_alt_release = false;  // an Alt accelerator ran; its Alt release opens no menu
    EditorOptions options;  // of this run
};

extern EditorState g_editor;
// The whole document; replaced by the parse of the vault's plaintext on every run,
// and wiped and emptied when the run ends.
extern Tree g_tree_root;

// Every message the editor shows, in order, as (caption, text). Cleared at the start
// of each run; lets a test see what the user was told once the run has returned.
struct ShownMessage {
    std::string caption;
    std::string text;
};
extern std::vector<ShownMessage> g_editor_messages;

// Shows a message over the editor window (the message dialog) and records it.
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
// Starts timer 216 anew with the inactivity interval.
void restart_inactivity_timer();
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

// The subclass procedures of the two boxes, and the indentation step that the editor
// box's EN_UPDATE runs first.
LRESULT CALLBACK filter_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK editor_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam);
void apply_pending_indent();

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

// The window procedure of the class "editor".
LRESULT CALLBACK editor_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
