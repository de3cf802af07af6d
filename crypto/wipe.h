#pragma once
// Wiping of secret buffers.
//
// Every buffer that holds a secret (password copies, plaintext, derived keys,
// round keys, keystream, HMAC pads, key-derivation work space) is cleared with
// secure_wipe before it is released or goes out of scope.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

// Overwrites `size` bytes at `data` with zeros. The compiler cannot remove the
// stores even when the buffer is never read again (SecureZeroMemory on Windows,
// explicit_bzero elsewhere). A null `data` with size 0 is allowed.
void secure_wipe(void* data, std::size_t size) noexcept;

// Wipes a buffer when the scope ends, on every return path:
//   uint8_t key[32];
//   WipeOnExit wipe_key(key, sizeof key);
class WipeOnExit {
public:
    WipeOnExit(void* data, std::size_t size) noexcept : data_(data), size_(size) {}
    ~WipeOnExit() { secure_wipe(data_, size_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    void* data_;
    std::size_t size_;
};

// A string that holds a secret (a password, document text) and leaves no copy
// behind: it wipes its characters when it goes, before every reallocation (it grows
// into a new buffer and wipes the old one) and when it shrinks. It cannot be copied;
// moving it wipes what the source kept. All changes go through its own members; the
// read-only str() is for functions that take a standard string.
template <class Char>
class BasicSecretString {
public:
    using String = std::basic_string<Char>;

    BasicSecretString() noexcept = default;
    BasicSecretString(const Char* text, std::size_t size) { append(text, size); }
    // Takes over `text` (a function's result) and wipes what the moved-from string kept.
    explicit BasicSecretString(String&& text) noexcept : text_(std::move(text)) { wipe_all(text); }
    BasicSecretString(BasicSecretString&& other) noexcept : text_(std::move(other.text_)) { other.clear(); }
    BasicSecretString& operator=(BasicSecretString&& other) noexcept
    {
        if (this != &other) {
            wipe_all(text_);
            text_ = std::move(other.text_);
            other.clear();
        }
        return *this;
    }
    BasicSecretString(const BasicSecretString&) = delete;
    BasicSecretString& operator=(const BasicSecretString&) = delete;
    ~BasicSecretString() { wipe_all(text_); }

    const String& str() const noexcept { return text_; }
    const Char* c_str() const noexcept { return text_.c_str(); }
    const Char* data() const noexcept { return text_.data(); }
    Char* data() noexcept { return &text_[0]; }
    std::size_t size() const noexcept { return text_.size(); }
    bool empty() const noexcept { return text_.empty(); }
    Char operator[](std::size_t i) const noexcept { return text_[i]; }
    Char back() const noexcept { return text_.back(); }
    bool equals(const BasicSecretString& other) const noexcept { return text_ == other.text_; }

    // Appends `count` characters. Throws std::bad_alloc; the string then holds what it held.
    void append(const Char* text, std::size_t count)
    {
        if (count > text_.max_size() - text_.size()) throw std::length_error("secret string too long");
        reserve(text_.size() + count);
        text_.append(text, count);
    }
    // Grows with zero characters, or drops (and wipes) the characters from `size` on.
    void resize(std::size_t size)
    {
        if (size <= text_.size()) {
            truncate(size);
            return;
        }
        reserve(size);
        text_.resize(size);
    }
    // Drops (and wipes) the characters from `size` on; a larger size changes nothing.
    void truncate(std::size_t size) noexcept
    {
        if (size >= text_.size()) return;
        secure_wipe(&text_[size], (text_.size() - size) * sizeof(Char));
        text_.resize(size);
    }
    void pop_back() noexcept { truncate(text_.size() - 1); }
    // Wipes everything; the string is then empty.
    void clear() noexcept
    {
        wipe_all(text_);
        text_.clear();
    }

private:
    // The characters and the unused capacity (the inline buffer of a short string too).
    static void wipe_all(String& text) noexcept { secure_wipe(&text[0], text.capacity() * sizeof(Char)); }

    void reserve(std::size_t needed)
    {
        if (needed <= text_.capacity()) return;
        String grown;
        grown.reserve(needed > 2 * text_.capacity() ? needed : 2 * text_.capacity());
        grown.assign(text_);
        wipe_all(text_);
        text_ = std::move(grown);  // the old buffer, wiped, goes with `grown`
    }

    String text_;
};

using SecretString = BasicSecretString<char>;
using SecretWString = BasicSecretString<wchar_t>;
