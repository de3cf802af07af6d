#include "tests/support/vaults.h"

#include <gtest/gtest.h>

Bytes vault_image(const std::string& magic, const std::string& version, const Bytes& salt, const Bytes& nonce,
                  const Bytes& mac, const Bytes& ciphertext)
{
    Bytes image(magic.begin(), magic.end());
    image.insert(image.end(), version.begin(), version.end());
    image.insert(image.end(), salt.begin(), salt.end());
    image.insert(image.end(), nonce.begin(), nonce.end());
    image.insert(image.end(), mac.begin(), mac.end());
    auto n = static_cast<std::uint32_t>(ciphertext.size());
    image.push_back(static_cast<std::uint8_t>(n >> 24));
    image.push_back(static_cast<std::uint8_t>(n >> 16));
    image.push_back(static_cast<std::uint8_t>(n >> 8));
    image.push_back(static_cast<std::uint8_t>(n));
    image.insert(image.end(), ciphertext.begin(), ciphertext.end());
    return image;
}

Bytes vault_image_with_length(std::uint32_t length, const Bytes& ciphertext)
{
    Bytes image = vault_image("GLIMKEEPDB", "1.0", Bytes(32, 0x11), Bytes(12, 0x22), Bytes(32, 0x33), ciphertext);
    image[89] = static_cast<std::uint8_t>(length >> 24);
    image[90] = static_cast<std::uint8_t>(length >> 16);
    image[91] = static_cast<std::uint8_t>(length >> 8);
    image[92] = static_cast<std::uint8_t>(length);
    return image;
}

void make_vault(const std::string& path, const std::string& password, const std::string& plaintext)
{
    Database10 db;
    db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
    db.set_plaintext(plaintext.data(), static_cast<std::uint32_t>(plaintext.size()));
    ASSERT_EQ(db.save(path), DB_OK) << db.last_error();
}

bool write_vault(const std::string& plaintext, const std::string& password, std::uint32_t iterations)
{
    Database db;
    db.set_new_key_iterations(iterations);
    db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
    db.set_plaintext(plaintext.data(), static_cast<std::uint32_t>(plaintext.size()));
    return db.save(kDatabaseFileName) == DB_OK;
}

bool open_vault(Database& db, const std::string& password)
{
    return open_vault_at(db, kDatabaseFileName, password);
}

bool open_vault_at(Database& db, const std::string& path, const std::string& password)
{
    db.set_new_key_iterations(kTestIterations);
    if (db.load(path) != DB_OK) return false;
    db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
    return db.decrypt() == DB_OK;
}

std::string plaintext_of(const std::string& path, const std::string& password)
{
    Database db;
    return open_vault_at(db, path, password) ? db.plaintext() : std::string("<does not open>");
}
