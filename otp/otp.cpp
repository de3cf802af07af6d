#include "otp/otp.h"

#include "crypto/bytes.h"
#include "crypto/hmac.h"
#include "platform/calendar_time.h"

#include <cstring>

namespace {

constexpr char kUriPrefix[] = "otpauth://totp/";
constexpr std::uint32_t kMinDigits = 6;
constexpr std::uint32_t kMaxDigits = 8;
constexpr std::uint32_t kMaxPeriod = 3600;
constexpr std::size_t kMaxHmacSize = 64;  // HMAC-SHA-512

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// ASCII letters compared in either case; every other byte as it is.
bool equal_nocase(const std::string& a, std::size_t from, std::size_t size, const char* b)
{
    if (std::strlen(b) != size || from + size > a.size()) return false;
    for (std::size_t i = 0; i < size; ++i)
        if (lower(a[from + i]) != lower(b[i])) return false;
    return true;
}

// RFC 4648, table 3: the value of a base32 character, or -1.
int base32_value(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= '2' && c <= '7') return c - '2' + 26;
    return -1;
}

// A value with the spaces around it dropped.
std::string::size_type first_non_space(const std::string& text)
{
    std::string::size_type i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    return i;
}

std::string::size_type end_without_spaces(const std::string& text)
{
    std::string::size_type end = text.size();
    while (end > 0 && text[end - 1] == ' ') --end;
    return end;
}

bool is_totp_uri(const std::string& value)
{
    const std::string::size_type start = first_non_space(value);
    return equal_nocase(value, start, std::strlen(kUriPrefix), kUriPrefix);
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Appends text[from, to) with its %XX escapes (RFC 3986, 2.1) decoded; a '%' not
// followed by two hex digits stays as it is.
void append_percent_decoded(const std::string& text, std::size_t from, std::size_t to, SecretString& out)
{
    for (std::size_t i = from; i < to; ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < to && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            c = static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        }
        out.append(&c, 1);
    }
}

// A decimal number of at most `max` made of digits only; false otherwise.
bool parse_number(const std::string& text, std::uint32_t max, std::uint32_t& value)
{
    if (text.empty() || text.size() > 9) return false;
    std::uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (v > max) return false;
    value = v;
    return true;
}

OtpProblem decode_secret(const std::string& text, SecretString& key)
{
    if (!base32_decode(text, key)) return OtpProblem::not_base32;
    if (key.empty()) return OtpProblem::empty_secret;
    return OtpProblem::none;
}

// The parameters of an otpauth://totp/ URI: the query after '?' up to '#', split at '&'.
OtpProblem read_uri(const std::string& uri, OtpSecret& out)
{
    const std::string::size_type query = uri.find('?');
    if (query == std::string::npos) return OtpProblem::uri_without_secret;
    std::string::size_type end = uri.find('#', query);
    if (end == std::string::npos) end = uri.size();

    bool have_secret = false;
    SecretString secret_text;
    std::string algorithm = "SHA1";
    std::string digits = "6";
    std::string period = "30";
    for (std::size_t start = query + 1; start <= end;) {
        std::string::size_type stop = uri.find('&', start);
        if (stop == std::string::npos || stop > end) stop = end;
        std::string::size_type equals = uri.find('=', start);
        if (equals == std::string::npos || equals > stop) equals = stop;
        const std::size_t value_from = equals < stop ? equals + 1 : stop;
        // A later parameter of the same name replaces an earlier one.
        if (equal_nocase(uri, start, equals - start, "secret")) {
            secret_text.clear();
            append_percent_decoded(uri, value_from, stop, secret_text);
            have_secret = true;
        } else if (equal_nocase(uri, start, equals - start, "algorithm")) {
            algorithm = uri.substr(value_from, stop - value_from);
        } else if (equal_nocase(uri, start, equals - start, "digits")) {
            digits = uri.substr(value_from, stop - value_from);
        } else if (equal_nocase(uri, start, equals - start, "period")) {
            period = uri.substr(value_from, stop - value_from);
        }
        start = stop + 1;
    }

    if (!have_secret || secret_text.empty()) return OtpProblem::uri_without_secret;
    if (equal_nocase(algorithm, 0, algorithm.size(), "SHA1"))
        out.hash = OtpHash::sha1;
    else if (equal_nocase(algorithm, 0, algorithm.size(), "SHA256"))
        out.hash = OtpHash::sha256;
    else if (equal_nocase(algorithm, 0, algorithm.size(), "SHA512"))
        out.hash = OtpHash::sha512;
    else
        return OtpProblem::bad_algorithm;
    if (!parse_number(digits, kMaxDigits, out.digits) || out.digits < kMinDigits) return OtpProblem::bad_digits;
    if (!parse_number(period, kMaxPeriod, out.period) || out.period < 1) return OtpProblem::bad_period;
    return decode_secret(secret_text.str(), out.key);
}

}  // namespace

bool base32_decode(const std::string& text, SecretString& out)
{
    out.clear();
    // RFC 4648, 6: eight characters carry five bytes; a last group of 2, 4, 5 or 7
    // characters carries 1, 2, 3 or 4 bytes. Other group sizes never occur.
    std::size_t data = 0;
    std::size_t padding = 0;
    for (char c : text) {
        if (c == ' ') continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        if (padding > 0 || base32_value(c) < 0) return false;
        ++data;
    }
    const std::size_t tail = data % 8;
    if (tail == 1 || tail == 3 || tail == 6) return false;
    if (padding > 0 && (tail == 0 || (data + padding) % 8 != 0)) return false;

    out.resize(data * 5 / 8);
    std::uint32_t buffer = 0;
    int bits = 0;
    std::size_t written = 0;
    for (char c : text) {
        const int value = base32_value(c);
        if (value < 0) continue;
        buffer = (buffer << 5) | static_cast<std::uint32_t>(value);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            out.data()[written++] = static_cast<char>((buffer >> bits) & 0xff);
        }
    }
    secure_wipe(&buffer, sizeof buffer);
    return true;
}

std::string hotp(OtpHash hash, const std::uint8_t* key, std::size_t key_len, std::uint64_t counter,
                 std::uint32_t digits)
{
    std::uint8_t message[8];
    store64_be(message, counter);  // RFC 4226, 5.2: C as an 8-byte big-endian value
    std::uint8_t mac[kMaxHmacSize];
    WipeOnExit wipe_mac(mac, sizeof mac);
    std::size_t mac_size = 20;
    switch (hash) {
    case OtpHash::sha1: hmac_sha1(message, sizeof message, key, key_len, mac); break;
    case OtpHash::sha256:
        hmac_sha256(message, sizeof message, key, key_len, mac);
        mac_size = 32;
        break;
    case OtpHash::sha512:
        hmac_sha512(message, sizeof message, key, key_len, mac);
        mac_size = 64;
        break;
    }
    // RFC 4226, 5.3: dynamic truncation at the offset in the low nibble of the last
    // byte, the top bit cleared; then the low `digits` decimal digits.
    const std::size_t offset = mac[mac_size - 1] & 0x0f;
    std::uint32_t binary = load32_be(mac + offset) & 0x7fffffff;
    std::string code(digits, '0');
    for (std::size_t i = digits; i > 0; --i) {
        code[i - 1] = static_cast<char>('0' + binary % 10);
        binary /= 10;
    }
    return code;
}

std::string totp(const OtpSecret& secret, std::int64_t unix_time)
{
    // RFC 6238, 4.2: T = floor((time - T0) / X) with T0 = 0.
    const std::uint32_t period = secret.period > 0 ? secret.period : 1;
    const std::uint64_t step = unix_time > 0 ? static_cast<std::uint64_t>(unix_time) / period : 0;
    return hotp(secret.hash, reinterpret_cast<const std::uint8_t*>(secret.key.data()), secret.key.size(), step,
                secret.digits);
}

bool holds_otp_secret(const TreeNode& node)
{
    if (!node.single_line) return false;
    if (is_totp_uri(node.content)) return true;
    return equal_nocase(node.name, 0, node.name.size(), "otp") || equal_nocase(node.name, 0, node.name.size(), "totp");
}

OtpProblem read_otp_secret(const TreeNode& node, OtpSecret& out)
{
    out = OtpSecret();
    const std::string& value = node.content;
    const std::string::size_type start = first_non_space(value);
    const std::string::size_type end = end_without_spaces(value);
    OtpProblem problem = OtpProblem::none;
    if (is_totp_uri(value)) {
        // The spaces around the URI are not part of it.
        SecretString uri(value.data() + start, end - start);
        problem = read_uri(uri.str(), out);
    } else {
        problem = decode_secret(value, out.key);
    }
    if (problem != OtpProblem::none) out = OtpSecret();
    return problem;
}

OtpStatus find_otp_secret(const TreeNode& node, OtpSecret& out, OtpProblem& problem)
{
    problem = OtpProblem::none;
    const TreeNode* holder = nullptr;
    if (holds_otp_secret(node)) {
        holder = &node;
    } else {
        for (const TreeNode& child : node.children) {
            if (holds_otp_secret(child)) {
                holder = &child;
                break;
            }
        }
    }
    if (!holder) return OtpStatus::no_secret;
    problem = read_otp_secret(*holder, out);
    return problem == OtpProblem::none ? OtpStatus::ok : OtpStatus::unreadable;
}

OtpStatus one_time_code(const TreeNode& node, std::int64_t unix_time, SecretString& code, OtpProblem& problem)
{
    code.clear();
    OtpSecret secret;
    const OtpStatus status = find_otp_secret(node, secret, problem);
    if (status == OtpStatus::ok) code = SecretString(totp(secret, unix_time));
    return status;
}

std::int64_t unix_time_now()
{
    return calendar_now();
}

std::string otp_unreadable_text(OtpProblem problem)
{
    const char* reason = "it is not base32.";
    switch (problem) {
    case OtpProblem::none:
    case OtpProblem::not_base32: break;
    case OtpProblem::empty_secret: reason = "it is empty."; break;
    case OtpProblem::uri_without_secret: reason = "its otpauth:// URI has no secret."; break;
    case OtpProblem::bad_algorithm:
        reason = "its otpauth:// URI names an algorithm other than SHA1, SHA256 and SHA512.";
        break;
    case OtpProblem::bad_digits: reason = "its otpauth:// URI asks for other than 6, 7 or 8 digits."; break;
    case OtpProblem::bad_period: reason = "its otpauth:// URI gives a period outside 1 to 3600 seconds."; break;
    }
    return std::string("The one-time secret of this entry cannot be read: ") + reason;
}
