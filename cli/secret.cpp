#include "cli/secret.h"

#include "crypto/wipe.h"

#include <cstring>
#include <new>
#include <vector>

void SecretBuffer::reserve(std::size_t needed)
{
    if (needed <= capacity_) return;
    std::size_t capacity = capacity_ < 64 ? 64 : capacity_;
    while (capacity < needed) {
        if (capacity > static_cast<std::size_t>(-1) / 2) throw std::bad_alloc();
        capacity *= 2;
    }
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
    if (data_) secure_wipe(data_.get(), capacity_);
    data_ = std::move(grown);
    capacity_ = capacity;
}

void SecretBuffer::append(const char* bytes, std::size_t count)
{
    if (count == 0) return;
    if (count > static_cast<std::size_t>(-1) - size_) throw std::bad_alloc();
    reserve(size_ + count);
    std::memcpy(data_.get() + size_, bytes, count);
    size_ += count;
}

void SecretBuffer::resize(std::size_t size)
{
    if (size <= size_) {
        truncate(size);
        return;
    }
    reserve(size);
    std::memset(data_.get() + size_, 0, size - size_);
    size_ = size;
}

void SecretBuffer::truncate(std::size_t size) noexcept
{
    if (size >= size_) return;
    secure_wipe(data_.get() + size, size_ - size);
    size_ = size;
}

void SecretBuffer::clear() noexcept
{
    if (data_) secure_wipe(data_.get(), capacity_);
    data_.reset();
    size_ = 0;
    capacity_ = 0;
}

bool SecretBuffer::equals(const SecretBuffer& other) const noexcept
{
    return size_ == other.size_ && (size_ == 0 || std::memcmp(data_.get(), other.data_.get(), size_) == 0);
}

void wipe_string(std::string& text) noexcept
{
    if (!text.empty()) secure_wipe(&text[0], text.size());
}

void wipe_tree(Tree& root) noexcept
{
    try {
        std::vector<TreeNode*> pending{&root};
        while (!pending.empty()) {
            TreeNode* node = pending.back();
            pending.pop_back();
            wipe_string(node->name);
            wipe_string(node->content);
            for (TreeNode& child : node->children) pending.push_back(&child);
        }
    } catch (...) {
        // Out of memory for the walk: the tree is still released below.
    }
    try {
        root = Tree();
    } catch (...) {
    }
}
