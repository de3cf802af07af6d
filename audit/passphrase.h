#pragma once
// Passphrases: words drawn uniformly from the built-in passphrase list (8,192 common
// English words of 4 to 8 lower-case letters, 13 bits each), for the editor's
// Ctrl+Shift+G and the companion's generate --words.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/password_generator.h"
#include "crypto/wipe.h"

inline constexpr int kPassphraseMinWords = 3;
inline constexpr int kPassphraseMaxWords = 20;
inline constexpr int kPassphraseDefaultWords = 6;
inline constexpr char kPassphraseDefaultSeparator = '-';

// The passphrase words, sorted and distinct, decoded at first use.
const std::vector<std::string>& passphrase_words();

// The bits each word adds: log2 of the number of words (13).
double passphrase_bits_per_word();

// True for a separator the generator takes: one printable ASCII character (space
// included) other than ':', which would end a line's name.
bool is_passphrase_separator(char c) noexcept;

// Fills `out` with `words` words (kPassphraseMinWords to kPassphraseMaxWords) joined
// by `separator`, each drawn uniformly and independently by rejection sampling of
// `source`. Returns 0; -1 when the random source fails (out then empty); -2 for a
// count or separator out of range. Never throws except std::bad_alloc.
int generate_passphrase_from(RandomSource source, int words, char separator, SecretString& out);

// The same with the system's random source.
int generate_passphrase(int words, char separator, SecretString& out);
