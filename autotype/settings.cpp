#include "autotype/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "autotype/text.h"
#include "platform/file_io.h"
#include "tree/fields.h"

namespace {

struct Named {
    const char* name;
    unsigned value;
};

constexpr Named kModifiers[] = {
    {"Ctrl", kModControl}, {"Control", kModControl}, {"Alt", kModAlt}, {"Shift", kModShift}, {"Win", kModWin},
};

constexpr Named kKeys[] = {
    {"Insert", 0x2D}, {"Ins", 0x2D},  {"Delete", 0x2E},   {"Del", 0x2E},  {"Home", 0x24},  {"End", 0x23},
    {"PageUp", 0x21}, {"PgUp", 0x21}, {"PageDown", 0x22}, {"PgDn", 0x22}, {"Pause", 0x13},
};

bool key_code(std::string_view name, unsigned& code)
{
    if (name.size() == 1) {
        const char c = name[0];
        if (c >= '0' && c <= '9')
            code = static_cast<unsigned>(c);
        else if (c >= 'A' && c <= 'Z')
            code = static_cast<unsigned>(c);
        else if (c >= 'a' && c <= 'z')
            code = static_cast<unsigned>(c - 'a' + 'A');
        else
            return false;
        return true;
    }
    if ((name[0] == 'F' || name[0] == 'f') && name.size() <= 3) {
        unsigned number = 0;
        for (const char c : name.substr(1)) {
            if (c < '0' || c > '9') return false;
            number = number * 10 + static_cast<unsigned>(c - '0');
        }
        if (number < 1 || number > 24 || name[1] == '0') return false;
        code = 0x70 + number - 1;
        return true;
    }
    for (const Named& key : kKeys) {
        if (names_equal_nocase(name, key.name)) {
            code = key.value;
            return true;
        }
    }
    return false;
}

constexpr unsigned kVirtualKeyF4 = 0x73;
constexpr unsigned kVirtualKeyF12 = 0x7B;
constexpr unsigned kVirtualKeyDelete = 0x2E;

bool is_function_key(unsigned code)
{
    return code >= 0x70 && code <= 0x87;
}

bool types_a_character(unsigned code)
{
    return (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z');
}

// The key as written, without asking whether it may be taken.
bool read_hotkey(std::string_view text, HotKey& out)
{
    text = autotype_text::trimmed(text);
    unsigned modifiers = 0;
    unsigned code = 0;
    bool have_key = false;
    while (!text.empty()) {
        const std::size_t plus = text.find('+');
        const std::string_view part =
            autotype_text::trimmed(text.substr(0, plus == std::string_view::npos ? text.size() : plus));
        text = plus == std::string_view::npos ? std::string_view() : text.substr(plus + 1);
        if (part.empty() || have_key) return false;
        bool is_modifier = false;
        for (const Named& modifier : kModifiers) {
            if (names_equal_nocase(part, modifier.name)) {
                if (modifiers & modifier.value) return false;
                modifiers |= modifier.value;
                is_modifier = true;
            }
        }
        if (is_modifier) {
            if (plus == std::string_view::npos) return false;  // a key must end it
            continue;
        }
        if (!key_code(part, code)) return false;
        have_key = true;
        if (plus != std::string_view::npos) return false;
    }
    if (!have_key) return false;
    out.modifiers = modifiers;
    out.virtual_key = code;
    return true;
}

// `text` up to a comment (';' or '#'), trimmed.
std::string_view before_comment(std::string_view text)
{
    return autotype_text::trimmed(text.substr(0, text.find_first_of(";#")));
}

std::string key_text(unsigned code)
{
    if ((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z')) return std::string(1, static_cast<char>(code));
    if (is_function_key(code)) return "F" + std::to_string(code - 0x70 + 1);
    for (const Named& key : kKeys)
        if (key.value == code) return key.name;
    return "?";
}

std::string settings_problem(std::size_t line, std::string_view text)
{
    return settings_line_problem(line, text,
                                 "is not a hot key Glimkeep can read (write it like hotkey=Ctrl+Shift+F11). "
                                 "Auto-type uses " +
                                     hotkey_name(HotKey()) + ".");
}

std::string refused_problem(std::size_t line, std::string_view text, const char* reason)
{
    return settings_line_problem(
        line, text, std::string("cannot be used: ") + reason + " Auto-type uses " + hotkey_name(HotKey()) + ".");
}

}  // namespace

bool parse_hotkey(std::string_view text, HotKey& out)
{
    HotKey key;
    if (!read_hotkey(text, key) || hotkey_refusal(key)) return false;
    out = key;
    return true;
}

const char* hotkey_refusal(const HotKey& key) noexcept
{
    const unsigned code = key.virtual_key;
    const bool ctrl = key.modifiers & kModControl;
    const bool alt = key.modifiers & kModAlt;
    const bool win = key.modifiers & kModWin;
    if (code == kVirtualKeyF12) return "Windows reserves F12, with any modifiers.";
    if (types_a_character(code)) {
        if (win) return "Windows reserves the Windows key with a letter or digit.";
        if (!ctrl && !alt) return "without Ctrl or Alt, the key types a character in every program.";
        if (ctrl && alt)
            return "Ctrl+Alt is AltGr on many keyboard layouts, so the character it types there could no longer "
                   "be typed.";
        return nullptr;
    }
    if (!ctrl && !alt && !win && !is_function_key(code))
        return "without Ctrl, Alt or Win, only a function key other than F12 may be taken from every program.";
    if (code == kVirtualKeyF4 && alt && !ctrl) return "Alt+F4 closes the window in front in every program.";
    if (code == kVirtualKeyDelete && ctrl && alt) return "Windows keeps Ctrl+Alt+Delete for itself.";
    return nullptr;
}

std::string hotkey_name(const HotKey& key)
{
    std::string name;
    if (key.modifiers & kModControl) name += "Ctrl+";
    if (key.modifiers & kModAlt) name += "Alt+";
    if (key.modifiers & kModShift) name += "Shift+";
    if (key.modifiers & kModWin) name += "Win+";
    return name + key_text(key.virtual_key);
}

void for_each_setting(std::string_view text, std::string_view section,
                      const std::function<void(const SettingsLine&)>& visit)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    bool in_section = false;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = autotype_text::trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const std::size_t close = line.find(']');
            in_section = close != std::string_view::npos && before_comment(line.substr(close + 1)).empty() &&
                names_equal_nocase(autotype_text::trimmed(line.substr(1, close - 1)), section);
            continue;
        }
        if (!in_section) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        visit(SettingsLine{number, autotype_text::trimmed(line.substr(0, equals)),
                           before_comment(line.substr(equals + 1)), line});
    }
}

std::string settings_line_problem(std::size_t number, std::string_view line, const std::string& what)
{
    constexpr std::size_t kShown = 60;
    std::string shown(line.substr(0, kShown));
    if (line.size() > kShown) shown += "...";
    return std::string(kSettingsFileName) + ", line " + std::to_string(number) + ": \"" + shown + "\" " + what;
}

bool read_settings_bytes(const std::string& path, std::string& bytes, std::string& why)
{
    bytes.clear();
    why.clear();
    std::FILE* file = db_file::open_for_reading(path);
    if (!file) {
        if (errno == ENOENT) return true;
        why = std::string(kSettingsFileName) + " cannot be read (" + std::strerror(errno) + ").";
        return false;
    }
    std::uint64_t size = 0;
    bool read = db_file::size_of(file, size) && size <= kMaxSettingsSize;
    if (read) {
        bytes.resize(static_cast<std::size_t>(size));
        read = std::fread(&bytes[0], 1, bytes.size(), file) == bytes.size();
    }
    std::fclose(file);
    if (!read) {
        bytes.clear();
        why = std::string(kSettingsFileName) + " cannot be read or is larger than 64 KiB.";
    }
    return read;
}

AutoTypeSettings read_settings_text(std::string_view text)
{
    AutoTypeSettings settings;
    for_each_setting(text, "auto-type", [&](const SettingsLine& line) {
        if (!names_equal_nocase(line.key, "hotkey")) return;
        HotKey key;
        const bool readable = read_hotkey(line.value, key);
        const char* refusal = readable ? hotkey_refusal(key) : nullptr;
        if (readable && !refusal) {
            settings.hotkey = key;
            settings.line = line.number;
            settings.problem.clear();
        } else {
            settings.hotkey = HotKey();
            settings.line = 0;
            settings.problem =
                refusal ? refused_problem(line.number, line.line, refusal) : settings_problem(line.number, line.line);
        }
    });
    return settings;
}

AutoTypeSettings read_settings_file(const std::string& path)
{
    return read_settings_file_with(path, read_settings_text,
                                   " Auto-type uses " + hotkey_name(AutoTypeSettings().hotkey) + ".");
}

std::string hotkey_taken_text(const AutoTypeSettings& settings)
{
    std::string where;
    if (settings.line != 0)
        where = " (" + std::string(kSettingsFileName) + ", line " + std::to_string(settings.line) + ")";
    return "The auto-type key " + hotkey_name(settings.hotkey) + where +
        " is taken by another program, so it does nothing in Glimkeep for now. Another key can be set in " +
        kSettingsFileName + " beside the vault: a section [auto-type] with a line like hotkey=Ctrl+Shift+F11.";
}

std::string settings_path_beside(const std::string& vault_path)
{
    const std::size_t slash = vault_path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(kSettingsFileName)
                                      : vault_path.substr(0, slash + 1) + kSettingsFileName;
}
