#pragma once
// The hot key that starts auto-type, read from glimkeep.ini beside the vault:
//
//   [auto-type]
//   hotkey=Ctrl+Shift+F11
//
// Section and key names in any case; spaces around them and around the value are
// dropped; ';' or '#' starts a comment, at the start of a line or after a section
// header or a value; other sections and keys are left to others. A key is modifiers
// (Ctrl, Alt, Shift, Win; any case, "Control" too) and one key joined by '+': a
// letter, a digit, F1 to F24, Insert, Delete, Home, End, PageUp, PageDown, Pause.
//
// Keys that would break typing or other programs are refused (hotkey_refusal):
// without Ctrl, Alt or Win only an F key other than F12; no Ctrl+Alt or
// Ctrl+Alt+Shift with a letter or digit (AltGr types characters on many layouts);
// no Win with a letter or digit (Windows reserves them); not Alt+F4 nor
// Ctrl+Alt+Delete; not F12 with any modifiers (Windows reserves it).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The modifier flags and virtual-key codes of Windows (RegisterHotKey takes them).
inline constexpr unsigned kModAlt = 0x1;
inline constexpr unsigned kModControl = 0x2;
inline constexpr unsigned kModShift = 0x4;
inline constexpr unsigned kModWin = 0x8;
inline constexpr unsigned kVirtualKeyInsert = 0x2D;

struct HotKey {
    unsigned modifiers = kModControl | kModAlt;
    unsigned virtual_key = kVirtualKeyInsert;
};

inline constexpr char kSettingsFileName[] = "glimkeep.ini";
// The largest glimkeep.ini read; a longer file is refused.
inline constexpr std::size_t kMaxSettingsSize = 64 * 1024;

// False (and `out` unchanged) for anything that is not a key as described above,
// refused keys included.
bool parse_hotkey(std::string_view text, HotKey& out);
// Why `key` may not be taken (the end of a sentence, like "Windows reserves F12."),
// or null when it may.
const char* hotkey_refusal(const HotKey& key) noexcept;
// "Ctrl+Alt+Insert": the modifiers in the order Ctrl, Alt, Shift, Win, then the key.
std::string hotkey_name(const HotKey& key);

struct AutoTypeSettings {
    HotKey hotkey;
    // The line of glimkeep.ini that set the key; 0 for the default.
    std::size_t line = 0;
    // Empty, or the message that says which line could not be read and that the
    // default key is used.
    std::string problem;
};

// The settings in the text of a glimkeep.ini (a UTF-8 byte order mark is skipped).
// The last hotkey line of the section counts; one that cannot be read makes the
// problem and the default key.
AutoTypeSettings read_settings_text(std::string_view text);
// The same for the file at `path`: a file that is not there gives the defaults
// without a problem; one that cannot be read or is too large, a problem.
AutoTypeSettings read_settings_file(const std::string& path);

// The message when RegisterHotKey refused the key of `settings`: its name, and the
// line of glimkeep.ini when it came from one.
std::string hotkey_taken_text(const AutoTypeSettings& settings);

// The path of glimkeep.ini in the folder of the vault at `vault_path`.
std::string settings_path_beside(const std::string& vault_path);

// The reader that every section of glimkeep.ini goes through. One "key=value" line of
// a section: its number (from 1), key and value (trimmed) and the whole line.
struct SettingsLine {
    std::size_t number;
    std::string_view key;
    std::string_view value;
    std::string_view line;
};
// Calls `visit` for every key=value line of `section` (its name in any case), in order.
void for_each_setting(std::string_view text, std::string_view section,
                      const std::function<void(const SettingsLine&)>& visit);
// "glimkeep.ini, line N: \"<line, at most 60 characters>\" <what>": the message for a
// value that cannot be read.
std::string settings_line_problem(std::size_t number, std::string_view line, const std::string& what);
// The bytes of glimkeep.ini at `path`: true with `bytes` empty when there is no file;
// false with `why` ("glimkeep.ini cannot be read ...") when it cannot be read or is
// larger than kMaxSettingsSize.
bool read_settings_bytes(const std::string& path, std::string& bytes, std::string& why);
// The settings of a section read by `read_text` from the file at `path`; when the
// file cannot be read, the defaults, with the reason and then `fallback` (what holds
// instead) as the problem.
template <typename Settings>
Settings read_settings_file_with(const std::string& path, Settings (*read_text)(std::string_view),
                                 const std::string& fallback)
{
    std::string bytes;
    std::string why;
    if (read_settings_bytes(path, bytes, why)) return read_text(bytes);
    Settings settings;
    settings.problem = why + fallback;
    return settings;
}
