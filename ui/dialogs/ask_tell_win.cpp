// Asking and telling through the message dialog, recorded.

#include "ui/common/ask_tell.h"

#include "ui/dialogs/message_dialog.h"

std::vector<ShownMessage> g_editor_messages;

void tell(HWND owner, const std::string& caption, const std::string& text) noexcept
{
    try {
        g_editor_messages.push_back({caption, text});
        show_message(owner, caption, text);
    } catch (...) {
        // Nothing more can be said; the window stays as it is.
    }
}

bool ask(HWND owner, const std::string& caption, const std::string& text)
{
    g_editor_messages.push_back({caption, text});
    return ask_yes_no(owner, caption, text);
}
