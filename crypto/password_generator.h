#pragma once
// Random passwords for the editor's "Insert generated password" and the command line.

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kGeneratedPasswordLength = 20;

// The characters a generated password is drawn from, in four classes. The symbols are
// ones that common keyboard layouts (US, UK, German, French) type without AltGr, and
// none of them structures the document (no tab, space or colon).
inline constexpr char kPasswordUpper[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
inline constexpr char kPasswordLower[] = "abcdefghijklmnopqrstuvwxyz";
inline constexpr char kPasswordDigits[] = "0123456789";
inline constexpr char kPasswordSymbols[] = "!*+-.=?_";

// Fills out with kGeneratedPasswordLength characters (not NUL-terminated), each drawn
// uniformly from the four classes together by rejection sampling of random_bytes (no
// modulo bias), with at least one character of every class (a draw lacking a class is
// thrown away whole, so every such password is equally likely).
// Returns 0, or -1 when the random source fails (out is then wiped). Never throws.
int generate_password(char out[kGeneratedPasswordLength]);

// The same with another byte source (tests): `source` fills its buffer or throws.
// A source that yields no usable password within 256 draws, or whose bytes are
// rejected more than 4,096 times in all (stuck on a rejected value), counts as failing.
using RandomSource = void (*)(std::uint8_t* out, std::uint32_t count);
int generate_password_from(RandomSource source, char out[kGeneratedPasswordLength]) noexcept;
