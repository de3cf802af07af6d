#pragma once
// Owners for the companion's secrets: password bytes, the text read from standard
// input, the decrypted document.

#include "tree/tree.h"

#include <cstddef>
#include <memory>
#include <string>

// A growable byte buffer that never leaves a copy behind: growing moves the bytes
// into a new buffer and wipes the old one, and the destructor wipes what is left.
class SecretBuffer {
public:
    SecretBuffer() = default;
    ~SecretBuffer() { clear(); }
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;

    // Appends `count` bytes. Throws std::bad_alloc; the buffer then holds what it held.
    void append(const char* bytes, std::size_t count);
    // Grows with zero bytes, or drops (and wipes) the bytes from `size` on.
    // Throws std::bad_alloc when growing fails; the buffer then holds what it held.
    void resize(std::size_t size);
    // Drops (and wipes) the bytes from `size` on; a larger size changes nothing.
    void truncate(std::size_t size) noexcept;
    // Wipes and releases everything.
    void clear() noexcept;

    const char* data() const noexcept { return data_ ? data_.get() : ""; }
    char* data() noexcept { return data_.get(); }  // null while empty
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    bool equals(const SecretBuffer& other) const noexcept;

private:
    void reserve(std::size_t capacity);

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Overwrites the string's bytes (its length, not its capacity) with zeros.
void wipe_string(std::string& text) noexcept;

// Overwrites every name and content in the tree, then empties it.
void wipe_tree(Tree& root) noexcept;
