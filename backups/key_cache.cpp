#include "backups/key_cache.h"

#include "crypto/keyed.h"
#include "db/database.h"

#include <cstring>

KeyCache::KeyCache(const char* password, std::uint32_t length) : password_(password, length) {}

KeyCache::~KeyCache()
{
    if (!entries_.empty()) secure_wipe(entries_.data(), entries_.size() * sizeof(Entry));
}

int KeyCache::decrypt(Database& db)
{
    if (db.major_version() != 2) {
        db.set_password(password_.data(), static_cast<std::uint32_t>(password_.size()));
        const int status = db.decrypt();
        db.wipe_password();
        return status;
    }
    for (const Entry& entry : entries_)
        if (entry.iterations == db.iterations() && std::memcmp(entry.salt, db.salt(), kSaltSize) == 0)
            return db.decrypt_with_keys(entry.keys);
    Entry entry;
    WipeOnExit wipe_entry(&entry, sizeof entry);
    std::memcpy(entry.salt, db.salt(), kSaltSize);
    entry.iterations = db.iterations();
    const auto* password = reinterpret_cast<const std::uint8_t*>(password_.data());
    if (pbkdf2_hmac_sha3_256(password, static_cast<std::uint32_t>(password_.size()), entry.salt, kSaltSize, entry.keys,
                             format_v2::kKeysSize, entry.iterations) != 0)
        return DB_KDF_FAILED;
    ++derivations_;
    // Growing the list moves the keys to a new buffer: the old one is wiped first.
    if (entries_.size() == entries_.capacity()) {
        std::vector<Entry> grown;
        grown.reserve(entries_.empty() ? 4 : 2 * entries_.size());
        grown.assign(entries_.begin(), entries_.end());
        if (!entries_.empty()) secure_wipe(entries_.data(), entries_.size() * sizeof(Entry));
        entries_.swap(grown);
    }
    entries_.push_back(entry);
    return db.decrypt_with_keys(entry.keys);
}
