#pragma once
// The crossing between the program's UTF-8 and Windows' UTF-16: the only place that
// calls MultiByteToWideChar and WideCharToMultiByte (code page CP_UTF8).

#include <cstddef>
#include <string>

namespace utf16 {

// How bytes that are not UTF-8 are taken.
enum class Invalid {
    kReplace,  // each becomes U+FFFD (the system's flags 0): window text
    kFail,  // the conversion fails: file names, whose meaning must not change
};

// Converts `size` bytes into `out`, which has room for `capacity` units; with `out`
// null, only counts. Returns the units written (or needed), 0 for empty input or
// on failure (invalid input with kFail, a size over INT_MAX, too little room).
std::size_t from_utf8(const char* text, std::size_t size, wchar_t* out, std::size_t capacity, Invalid invalid);
// The same from UTF-16 units to UTF-8 bytes (an unpaired surrogate becomes U+FFFD).
std::size_t to_utf8(const wchar_t* text, std::size_t units, char* out, std::size_t capacity);

// Whole strings. from_utf8 with kFail gives false (and `out` empty) for input that
// is not UTF-8 or too long; kReplace and to_utf8 fail only for input over INT_MAX
// units, which they cut instead. Throw std::bad_alloc.
bool from_utf8(const std::string& text, std::wstring& out, Invalid invalid);
void to_utf8(const std::wstring& text, std::string& out);

}  // namespace utf16
