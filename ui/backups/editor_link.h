#pragma once
// What the backups windows need of the editor, read in this one place: its window,
// the vault's path and password, the document and the node shown, its messages and
// its inactivity lock. User-interface thread only.

#include <windows.h>

#include <string>

#include "crypto/wipe.h"
#include "tree/tree.h"

namespace editor_link {

// The editor window, or null when none is open.
HWND window() noexcept;
// The vault's full path.
const std::string& vault_path() noexcept;
// The password that opened the vault (or the one it was last saved under).
const SecretString& password() noexcept;
// The whole document and the node the editor box shows (the root when the filter
// names no other), with the box's text stored into it first; `node` is null when
// the editor holds no document.
struct Shown {
    const Tree* document = nullptr;
    const TreeNode* node = nullptr;
};
Shown shown();
// A message over the editor, recorded as the editor records its messages.
void tell(const std::string& caption, const std::string& text) noexcept;
// A question over the editor ("No" focused), recorded likewise; true on "Yes".
bool ask(const std::string& caption, const std::string& text);

// Holds the inactivity lock off while a window of this folder runs its own message
// loop (the lock would close the editor underneath it); the timer starts anew when
// it goes.
class LockPaused {
public:
    LockPaused() noexcept;
    ~LockPaused();
    LockPaused(const LockPaused&) = delete;
    LockPaused& operator=(const LockPaused&) = delete;
};

}  // namespace editor_link
