#include "platform/utf16.h"

#include <windows.h>

#include <climits>

namespace utf16 {
namespace {

// The system converts int-sized lengths.
bool fits(std::size_t size)
{
    return size <= static_cast<std::size_t>(INT_MAX);
}

int clamp(std::size_t size)
{
    return fits(size) ? static_cast<int>(size) : INT_MAX;
}

}  // namespace

std::size_t from_utf8(const char* text, std::size_t size, wchar_t* out, std::size_t capacity, Invalid invalid)
{
    if (size == 0 || !fits(size)) return 0;
    const DWORD flags = invalid == Invalid::kFail ? MB_ERR_INVALID_CHARS : 0;
    const int n = MultiByteToWideChar(CP_UTF8, flags, text, static_cast<int>(size), out, out ? clamp(capacity) : 0);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::size_t to_utf8(const wchar_t* text, std::size_t units, char* out, std::size_t capacity)
{
    if (units == 0 || !fits(units)) return 0;
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), out, out ? clamp(capacity) : 0,
                                      nullptr, nullptr);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool from_utf8(const std::string& text, std::wstring& out, Invalid invalid)
{
    out.clear();
    if (text.empty()) return true;
    if (!fits(text.size()) && invalid == Invalid::kFail) return false;
    // Longer texts are cut rather than wrapped.
    const std::size_t size = fits(text.size()) ? text.size() : static_cast<std::size_t>(INT_MAX);
    const std::size_t needed = from_utf8(text.data(), size, nullptr, 0, invalid);
    if (needed == 0) return false;
    out.resize(needed);
    out.resize(from_utf8(text.data(), size, &out[0], needed, invalid));
    return !out.empty();
}

void to_utf8(const std::wstring& text, std::string& out)
{
    out.clear();
    const std::size_t units = fits(text.size()) ? text.size() : static_cast<std::size_t>(INT_MAX);
    const std::size_t needed = to_utf8(text.data(), units, nullptr, 0);
    if (needed == 0) return;
    out.resize(needed);
    out.resize(to_utf8(text.data(), units, &out[0], needed));
}

}  // namespace utf16
