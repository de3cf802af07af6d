#pragma once
// One-time codes: HOTP (RFC 4226) and TOTP (RFC 6238) over HMAC-SHA-1, -SHA-256 or
// -SHA-512, and the secrets a vault keeps for them.
//
// A node holds a secret when its single-line value is an otpauth://totp/ URI (the
// Key URI Format: `secret` required; `algorithm` SHA1, SHA256 or SHA512, default
// SHA1; `digits` 6 to 8, default 6; `period` 1 to 3600 seconds, default 30; other
// parameters ignored), or when it is named "otp" or "totp" (any case) and has a
// single-line value: a base32 secret with the defaults, or such a URI. A held secret
// whose text cannot be used is unreadable, never silently replaced by defaults.
//
// Every decoded secret, key and intermediate value is wiped before it is released.

#include <cstddef>
#include <cstdint>
#include <string>

#include "crypto/wipe.h"
#include "tree/tree.h"

enum class OtpHash { sha1, sha256, sha512 };

struct OtpSecret {
    SecretString key;  // the decoded secret bytes
    OtpHash hash = OtpHash::sha1;
    std::uint32_t digits = 6;
    std::uint32_t period = 30;  // seconds
};

// Why a held secret cannot be read.
enum class OtpProblem {
    none,
    not_base32,  // the secret (a node's value, or the URI's secret) is not base32
    empty_secret,  // it decodes to no bytes at all
    uri_without_secret,
    bad_algorithm,
    bad_digits,
    bad_period,
};

// What looking for a code found.
enum class OtpStatus {
    ok,
    no_secret,  // neither the node nor one of its children holds a secret
    unreadable,  // the secret found cannot be read (see OtpProblem)
};

// Decodes base32 (RFC 4648, section 6): letters in either case, spaces anywhere,
// '=' padding optional but, when present, exactly what completes the last group of
// eight. Returns false (and leaves `out` empty) on any other character, a length no
// encoding produces, or data after the padding. Never reads past `text`.
bool base32_decode(const std::string& text, SecretString& out);

// The HOTP value (RFC 4226, 5.3) of `counter`: `digits` decimal digits (1 to 9),
// zero-padded. `hash` selects the HMAC, as RFC 6238 allows. The HMAC value is wiped.
std::string hotp(OtpHash hash, const std::uint8_t* key, std::size_t key_len, std::uint64_t counter,
                 std::uint32_t digits);

// The TOTP value (RFC 6238, 4) at `unix_time` seconds (T0 = 0). Times before 1970
// count as the first time step; a period of 0 counts as 1 second.
std::string totp(const OtpSecret& secret, std::int64_t unix_time);

// True when `node` holds a secret (readable or not).
bool holds_otp_secret(const TreeNode& node);

// Reads the secret that `node` holds. OtpProblem::none with `out` filled, or the
// reason it cannot be read (then `out` is empty). `node` must hold a secret.
OtpProblem read_otp_secret(const TreeNode& node, OtpSecret& out);

// The secret for an entry: `node` itself when it holds one, else its first child
// that does. On OtpStatus::unreadable, `problem` says why.
OtpStatus find_otp_secret(const TreeNode& node, OtpSecret& out, OtpProblem& problem);

// The current code of an entry (find_otp_secret, then totp). `code` is left empty
// unless the status is ok.
OtpStatus one_time_code(const TreeNode& node, std::int64_t unix_time, SecretString& code, OtpProblem& problem);

// Seconds since 1970-01-01 00:00:00 UTC, from the calendar clock (calendar_now), in 64 bits.
std::int64_t unix_time_now();

// The texts the editor and the companion show.
inline constexpr char kOtpNoSecretText[] = "This entry has no one-time secret.";
// "The one-time secret of this entry cannot be read: " followed by the reason.
std::string otp_unreadable_text(OtpProblem problem);
