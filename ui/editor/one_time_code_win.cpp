// Ctrl+T: the current one-time code of the entry shown goes to the clipboard.

#include "crypto/wipe.h"
#include "otp/otp.h"
#include "ui/common/clipboard.h"
#include "ui/editor/editor_commands.h"
#include "ui/editor/editor_state.h"
#include "ui/common/text.h"

namespace {

constexpr char kNoSecretCaption[] = "No one-time secret";
constexpr char kUnreadableCaption[] = "Unreadable one-time secret";

}  // namespace

void copy_one_time_code()
{
    // An edit of the secret that is not saved yet counts, as it does for Enter.
    store_editor_text();
    if (!g_editor.node_shown) return;
    SecretString code;
    OtpProblem problem = OtpProblem::none;
    switch (one_time_code(*g_editor.node_shown, unix_time_now(), code, problem)) {
    case OtpStatus::ok: break;
    case OtpStatus::no_secret:
        MessageBeep(MB_ICONWARNING);
        editor_show_message(kNoSecretCaption, kOtpNoSecretText);
        return;
    case OtpStatus::unreadable:
        MessageBeep(MB_ICONWARNING);
        editor_show_message(kUnreadableCaption, otp_unreadable_text(problem));
        return;
    }
    copy_text_to_clipboard(g_editor.main_window, SecretWString(to_utf16(code.str())));
}
