#include "autotype/target.h"

#include "autotype/matching.h"
#include "autotype/text.h"
#include "tree/fields.h"

namespace {

constexpr wchar_t kDesktopWindowClass[] = L"#32769";
constexpr const wchar_t* kDesktopClasses[] = {
    L"Progman", L"WorkerW", L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd", kDesktopWindowClass,
};

bool is_desktop(const WindowFacts& window)
{
    if (window.shell_window) return true;
    for (const wchar_t* name : kDesktopClasses)
        if (window.class_name == name) return true;
    return false;
}

// A title in quotes for a message, shortened when long.
std::string quoted(std::string_view title)
{
    constexpr std::size_t kShown = 120;  // characters
    std::size_t end = 0;
    for (std::size_t count = 0; count < kShown && end < title.size(); ++count)
        autotype_text::next_code_point(title, end);
    std::string text = "\"" + std::string(title.substr(0, end));
    if (end < title.size()) text += "...";
    return text + "\"";
}

}  // namespace

TargetRefusal refuse_target(const WindowFacts& window) noexcept
{
    if (!window.exists) return TargetRefusal::kGone;
    if (window.ours) return TargetRefusal::kOwn;
    if (is_desktop(window)) return TargetRefusal::kDesktop;
    if (!window.visible || window.cloaked || !window.has_area) return TargetRefusal::kHidden;
    if (window.minimised) return TargetRefusal::kMinimised;
    if (window.tool_window) return TargetRefusal::kToolWindow;
    return TargetRefusal::kNone;
}

bool remember_as_previous(const WindowFacts& window) noexcept
{
    if (window.class_name == kDesktopWindowClass) return false;
    const TargetRefusal refusal = refuse_target(window);
    return refusal == TargetRefusal::kNone || refusal == TargetRefusal::kDesktop;
}

std::string target_refusal_text(TargetRefusal refusal, bool by_hot_key)
{
    const std::string which = by_hot_key ? "The window in front" : "The window that was in front before Glimkeep";
    switch (refusal) {
    case TargetRefusal::kNone: return std::string();
    case TargetRefusal::kGone: return which + " is closed. Nothing was typed.";
    case TargetRefusal::kOwn: return which + " is one of Glimkeep's own. Nothing was typed.";
    case TargetRefusal::kDesktop:
        return which + " is the desktop or the task bar, where Enter would open what is selected. Nothing was typed.";
    case TargetRefusal::kHidden: return which + " is hidden. Nothing was typed.";
    case TargetRefusal::kMinimised: return which + " is minimised. Nothing was typed.";
    case TargetRefusal::kToolWindow:
        return which + " is a tool window (a palette or a floating bar), not one to type into. Nothing was typed.";
    }
    return std::string();
}

TitleRule::TitleRule(std::string_view begun_title, const TreeNode* entry) : begun_(capped_title(begun_title))
{
    if (!entry || !is_auto_type_candidate(*entry)) return;
    for (const TreeNode& child : entry->children) {
        if (!names_equal_nocase(child.name, kWindowLineName)) continue;
        // An entry with patterns is matched by them only, even by one that matches
        // every title; that one tells nothing about the page.
        patterns_.emplace_back(matches_every_title(child.content) ? std::string() : child.content);
    }
    if (!patterns_.empty()) return;
    name_ = entry->name;
    if (const TreeNode* url = first_field(*entry, FieldKind::kUrl)) host_ = url_host(url->content);
}

bool TitleRule::fits(std::string_view title) const
{
    if (capped_title(title) == begun_) return true;
    for (const std::string& pattern : patterns_)
        if (window_pattern_matches(pattern, title)) return true;
    return occurs_as_word(name_, title) || occurs_as_word(host_, title);
}

TypingStop check_before_key(const BeforeKey& seen) noexcept
{
    if (!seen.target_in_front) return TypingStop::kAnotherWindow;
    if (!seen.focus_read) return TypingStop::kFocusUnknown;
    if (!seen.focus_moves && !seen.focus_same) return TypingStop::kFocusMoved;
    if (seen.title_checked && !seen.title_fits) return TypingStop::kTitleChanged;
    return TypingStop::kNone;
}

std::string typing_stop_reason(TypingStop stop, std::string_view title)
{
    switch (stop) {
    case TypingStop::kNone: return std::string();
    case TypingStop::kAnotherWindow: return "another window came to the front.";
    case TypingStop::kFocusUnknown: return "Windows did not say which control of the window has the focus.";
    case TypingStop::kFocusMoved: return "the focus moved to another control of the window.";
    case TypingStop::kTitleChanged:
        return "the window's title changed to " + quoted(title) +
            ", which the entry does not name (a window: line for that title lets auto-type go on).";
    }
    return std::string();
}

std::string picker_title_changed_text(std::string_view opened_with, std::string_view now)
{
    return "The title of the window changed from " + quoted(opened_with) + " to " + quoted(now) +
        " while the auto-type window was open, so nothing was typed. Start auto-type again in that window.";
}
