#pragma once
// The editor window's own state, shared by the files of ui/editor/ (the window, its
// two subclassed boxes, its commands, the save command, the absence lock) and read
// by the window tests. Every other window goes through editor_window.h.
//
// All editor state is module-level: one editor window exists at a time, and every
// function here runs on the user-interface thread only.

#include <windows.h>

#include "tree/tree.h"
#include "ui/common/gdi.h"
#include "ui/editor/editor_options.h"
#include "ui/editor/editor_window.h"

class Database;
namespace vault {
class Session;
}

struct EditorState {
    HWND main_window = nullptr;
    HWND filter_box = nullptr;
    HWND editor_box = nullptr;
    WNDPROC previous_filter_proc = nullptr;  // the boxes' own procedures, under their subclasses
    WNDPROC previous_editor_proc = nullptr;
    HMENU file_menu = nullptr;  // its Upgrade item is enabled for a vault of format 1.0 only
    Brush strip_brush;
    Font text_font;
    Database* database = nullptr;  // borrowed for one run of the window
    vault::Session* session = nullptr;  // the vault's session over `database`, borrowed likewise
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

// The subclass procedures of the two boxes, and the indentation step that the editor
// box's EN_UPDATE runs first.
LRESULT CALLBACK filter_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK editor_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam);
void apply_pending_indent();

// The window procedure of the class "editor".
LRESULT CALLBACK editor_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
