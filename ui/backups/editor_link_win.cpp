// The backups windows' one view of the editor's state.

#include "ui/backups/editor_link.h"

#include "resource.h"
#include "ui/changed_elsewhere/changed_elsewhere.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/editor/editor_window.h"

namespace editor_link {

HWND window() noexcept
{
    return editor_main_window();
}

const std::string& vault_path() noexcept
{
    return ::vault_path();
}

const SecretString& password() noexcept
{
    return vault_password_in_use();
}

Shown shown()
{
    store_editor_text();
    return {&editor_document(), editor_node_shown()};
}

void tell(const std::string& caption, const std::string& text) noexcept
{
    editor_show_message(caption, text);
}

bool ask(const std::string& caption, const std::string& text)
{
    g_editor_messages.push_back({caption, text});
    return ask_yes_no(editor_main_window(), caption, text);
}

LockPaused::LockPaused() noexcept
{
    if (editor_main_window()) KillTimer(editor_main_window(), IDT_INACTIVITY);
}

LockPaused::~LockPaused()
{
    if (editor_main_window()) restart_inactivity_timer();
}

}  // namespace editor_link
