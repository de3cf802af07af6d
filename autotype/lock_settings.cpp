#include "autotype/lock_settings.h"

#include "autotype/settings.h"
#include "autotype/text.h"
#include "tree/fields.h"
#include "vault/kept_keys.h"

namespace {

// A whole number of at most two digits from `low` to `high`; false otherwise.
bool small_number(std::string_view text, unsigned low, unsigned high, unsigned& out)
{
    if (text.empty() || text.size() > 2) return false;
    unsigned number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number < low || number > high) return false;
    out = number;
    return true;
}

// "off" gives 0; "last N" gives N.
bool parse_quick_unlock(std::string_view value, unsigned& length)
{
    if (names_equal_nocase(value, "off")) {
        length = 0;
        return true;
    }
    if (value.size() < 5 || !names_equal_nocase(value.substr(0, 4), "last")) return false;
    const std::string_view rest = autotype_text::trimmed(value.substr(4));
    if (rest.size() == value.size() - 4) return false;  // "last" and N apart
    return small_number(rest, quick_unlock::kMinCodeLength, quick_unlock::kMaxCodeLength, length);
}

void add_problem(std::string& problems, const std::string& problem)
{
    if (!problems.empty()) problems += "\r\n";
    problems += problem;
}

}  // namespace

LockSettings read_lock_settings_text(std::string_view text)
{
    LockSettings settings;
    std::string length_problem;
    std::string hours_problem;
    for_each_setting(text, "lock", [&](const SettingsLine& line) {
        if (names_equal_nocase(line.key, "quick-unlock")) {
            length_problem.clear();
            if (!parse_quick_unlock(line.value, settings.quick_unlock_length)) {
                settings.quick_unlock_length = 0;
                length_problem = settings_line_problem(
                    line.number, line.line,
                    "is not a setting Glimkeep can read (write it like quick-unlock=last 4, with 3 to 8 "
                    "characters, or quick-unlock=off). Quick unlock stays off.");
            }
        } else if (names_equal_nocase(line.key, "quick-unlock-hours")) {
            hours_problem.clear();
            if (!small_number(line.value, 1, kMaxQuickUnlockHours, settings.quick_unlock_hours)) {
                settings.quick_unlock_hours = kDefaultQuickUnlockHours;
                hours_problem = settings_line_problem(line.number, line.line,
                                                      "is not a setting Glimkeep can read (write it like "
                                                      "quick-unlock-hours=8, from 1 to 24). Quick unlock lasts 8 "
                                                      "hours.");
            }
        }
    });
    add_problem(settings.problem, length_problem);
    if (!hours_problem.empty()) add_problem(settings.problem, hours_problem);
    return settings;
}

LockSettings read_lock_settings_file(const std::string& path)
{
    return read_settings_file_with(path, read_lock_settings_text, " Quick unlock stays off.");
}
