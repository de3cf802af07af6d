#include "autotype/sequence.h"

#include <new>

#include "autotype/matching.h"
#include "autotype/text.h"
#include "otp/otp.h"
#include "tree/fields.h"

TypingPlan::TypingPlan(TypingPlan&& other) noexcept
    : actions_(other.actions_), size_(other.size_), capacity_(other.capacity_)
{
    other.actions_ = nullptr;
    other.size_ = other.capacity_ = 0;
}

TypingPlan& TypingPlan::operator=(TypingPlan&& other) noexcept
{
    if (this != &other) {
        clear();
        actions_ = other.actions_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.actions_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    return *this;
}

void TypingPlan::clear() noexcept
{
    if (actions_) {
        secure_wipe(actions_, capacity_ * sizeof(TypingAction));
        delete[] actions_;
    }
    actions_ = nullptr;
    size_ = capacity_ = 0;
}

void TypingPlan::push(const TypingAction& action)
{
    if (size_ == capacity_) {
        const std::size_t grown = capacity_ ? 2 * capacity_ : 64;
        auto* bigger = new TypingAction[grown];
        for (std::size_t i = 0; i < size_; ++i) bigger[i] = actions_[i];
        secure_wipe(actions_, capacity_ * sizeof(TypingAction));
        delete[] actions_;
        actions_ = bigger;
        capacity_ = grown;
    }
    actions_[size_++] = action;
}

void TypingPlan::add_text(std::string_view text)
{
    const std::size_t before = size_;
    try {
        for (std::size_t i = 0; i < text.size();) {
            char32_t c = autotype_text::next_code_point(text, i);
            TypingAction action;
            if (c >= 0x10000) {
                c -= 0x10000;
                action.units[0] = static_cast<std::uint16_t>(0xD800 + (c >> 10));
                action.units[1] = static_cast<std::uint16_t>(0xDC00 + (c & 0x3FF));
                action.unit_count = 2;
            } else {
                action.units[0] = static_cast<std::uint16_t>(c);
                action.unit_count = 1;
            }
            push(action);
            secure_wipe(&action, sizeof action);
        }
    } catch (...) {
        secure_wipe(actions_ + before, (size_ - before) * sizeof(TypingAction));
        size_ = before;
        throw;
    }
}

void TypingPlan::add_key(std::uint16_t virtual_key)
{
    TypingAction action;
    action.kind = TypingAction::Kind::kKey;
    action.virtual_key = virtual_key;
    push(action);
}

void TypingPlan::add_delay(std::uint32_t milliseconds)
{
    TypingAction action;
    action.kind = TypingAction::Kind::kDelay;
    action.delay = milliseconds;
    push(action);
}

std::size_t TypingPlan::keystrokes() const noexcept
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < size_; ++i)
        if (actions_[i].kind != TypingAction::Kind::kDelay) ++count;
    return count;
}

namespace {

// The value of a field line: its single-line content, else nothing.
std::string_view field_value(const TreeNode& entry, FieldKind kind)
{
    const TreeNode* line = first_field(entry, kind);
    return line && line->single_line ? std::string_view(line->content) : std::string_view();
}

bool is_placeholder(std::string_view name, const char* wanted)
{
    return names_equal_nocase(name, wanted);
}

// "DELAY n" with n decimal digits, at most kMaxDelay; false for anything else.
bool read_delay(std::string_view name, std::uint32_t& milliseconds)
{
    if (name.size() < 7 || !names_equal_nocase(name.substr(0, 6), "DELAY ")) return false;
    const std::string_view digits = name.substr(6);
    if (digits.size() > 5) return false;
    std::uint32_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > kMaxDelay) return false;
    milliseconds = value;
    return true;
}

SequenceResult failed(SequenceProblem problem, std::string_view detail, TypingPlan& plan)
{
    plan.clear();
    return {problem, std::string(detail)};
}

}  // namespace

SequenceResult plan_sequence(std::string_view sequence, const TreeNode& entry, std::int64_t unix_time, TypingPlan& plan)
{
    plan.clear();
    if (autotype_text::trimmed(sequence).empty()) return failed(SequenceProblem::kEmptySequence, "", plan);
    std::size_t i = 0;
    while (i < sequence.size()) {
        const std::size_t brace = sequence.find('{', i);
        plan.add_text(sequence.substr(i, brace == std::string_view::npos ? std::string_view::npos : brace - i));
        if (brace == std::string_view::npos) break;
        const std::string_view rest = sequence.substr(brace);
        if (rest.substr(0, 3) == "{{}" || rest.substr(0, 3) == "{}}") {
            plan.add_text(rest.substr(1, 1));
            i = brace + 3;
            continue;
        }
        const std::size_t close = rest.find('}');
        if (close == std::string_view::npos) return failed(SequenceProblem::kUnclosedBrace, rest, plan);
        const std::string_view name = rest.substr(1, close - 1);
        const std::string_view written = rest.substr(0, close + 1);
        i = brace + close + 1;
        std::uint32_t delay = 0;
        if (is_placeholder(name, "USERNAME")) {
            plan.add_text(field_value(entry, FieldKind::kUserName));
        } else if (is_placeholder(name, "PASSWORD")) {
            const std::string_view password = field_value(entry, FieldKind::kPassword);
            if (password.empty()) return failed(SequenceProblem::kEmptyPassword, written, plan);
            plan.add_text(password);
        } else if (is_placeholder(name, "URL")) {
            plan.add_text(field_value(entry, FieldKind::kUrl));
        } else if (is_placeholder(name, "TOTP")) {
            SecretString code;
            OtpProblem problem = OtpProblem::none;
            switch (one_time_code(entry, unix_time, code, problem)) {
            case OtpStatus::ok: break;
            case OtpStatus::no_secret: return failed(SequenceProblem::kOneTimeCode, kOtpNoSecretText, plan);
            case OtpStatus::unreadable:
                return failed(SequenceProblem::kOneTimeCode, otp_unreadable_text(problem), plan);
            }
            plan.add_text(code.str());
        } else if (is_placeholder(name, "TAB")) {
            plan.add_key(kVirtualKeyTab);
        } else if (is_placeholder(name, "ENTER")) {
            plan.add_key(kVirtualKeyEnter);
        } else if (is_placeholder(name, "SPACE")) {
            plan.add_text(" ");
        } else if (read_delay(name, delay)) {
            plan.add_delay(delay);
        } else if (name.size() >= 5 && names_equal_nocase(name.substr(0, 5), "DELAY")) {
            return failed(SequenceProblem::kBadDelay, written, plan);
        } else {
            return failed(SequenceProblem::kUnknownPlaceholder, written, plan);
        }
    }
    return {};
}

SequenceResult plan_entry(const TreeNode& entry, std::int64_t unix_time, TypingPlan& plan)
{
    for (const TreeNode& child : entry.children)
        if (names_equal_nocase(child.name, kAutoTypeLineName))
            return plan_sequence(child.single_line ? std::string_view(child.content) : std::string_view(), entry,
                                 unix_time, plan);
    return plan_sequence(kDefaultSequence, entry, unix_time, plan);
}

SequenceResult plan_node(const TreeNode& node, std::int64_t unix_time, TypingPlan& plan)
{
    plan.clear();
    if (is_auto_type_candidate(node)) return plan_entry(node, unix_time, plan);
    if (node.single_line && !node.content.empty()) {
        plan.add_text(node.content);
        return {};
    }
    return {SequenceProblem::kNothingToType, std::string()};
}

std::string sequence_problem_text(const SequenceResult& result)
{
    // What the user wrote is shown at most this long.
    constexpr std::size_t kShown = 60;
    const std::string written = result.detail.size() > kShown ? result.detail.substr(0, kShown) + "..." : result.detail;
    switch (result.problem) {
    case SequenceProblem::kNone: return std::string();
    case SequenceProblem::kUnknownPlaceholder:
        return "The auto-type sequence holds " + written +
            ", which is not a placeholder Glimkeep knows. Nothing was typed.";
    case SequenceProblem::kUnclosedBrace:
        return "The auto-type sequence has a brace that is not closed: " + written +
            " (type {{} for a brace itself). Nothing was typed.";
    case SequenceProblem::kBadDelay:
        return "The auto-type sequence holds " + written +
            ": a delay is a number of milliseconds from 0 to 10000. Nothing was typed.";
    case SequenceProblem::kEmptyPassword:
        return "The auto-type sequence types {PASSWORD}, but this entry has no password. Nothing was typed.";
    case SequenceProblem::kEmptySequence: return "The auto-type sequence of this entry is empty. Nothing was typed.";
    case SequenceProblem::kOneTimeCode:
        return "The auto-type sequence types {TOTP}: " + written + " Nothing was typed.";
    case SequenceProblem::kNothingToType:
        return "This entry has no value, no password line and no auto-type line. Nothing was typed.";
    }
    return std::string();
}

std::size_t key_records(const TypingAction& action, KeyRecord out[kMaxKeyRecords]) noexcept
{
    std::size_t n = 0;
    switch (action.kind) {
    case TypingAction::Kind::kCharacter:
        for (std::size_t u = 0; u < action.unit_count && u < 2; ++u) {
            out[n++] = {0, action.units[u], true, false};
            out[n++] = {0, action.units[u], true, true};
        }
        break;
    case TypingAction::Kind::kKey:
        out[n++] = {action.virtual_key, 0, false, false};
        out[n++] = {action.virtual_key, 0, false, true};
        break;
    case TypingAction::Kind::kDelay: break;
    }
    return n;
}
