// Quick unlock's kept keys: the right code gives back the keys that open the vault,
// one wrong code wipes everything, the deadline follows a clock the tests set, and a
// vault re-keyed elsewhere is refused.

#include "vault/kept_keys.h"

#include "db/database.h"
#include "tests/support/files.h"
#include "tests/support/hex.h"
#include "tests/support/vaults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kHour = 3600u * 1000u;
constexpr char kPassword[] = "correct horse battery staple 1234";
constexpr char kPlaintext[] = "mail\n  alice\n    password hunter2\n";

// The tests' clock and a protection that visibly changes the bytes it protects.
std::uint64_t g_now = 1000;
int g_protected = 0;  // protect calls minus unprotect calls

std::uint64_t test_clock() noexcept
{
    return g_now;
}

bool xor_protect(std::uint8_t* data, std::size_t size) noexcept
{
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(data[i] ^ 0xA5);
    ++g_protected;
    return true;
}

bool xor_unprotect(std::uint8_t* data, std::size_t size) noexcept
{
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(data[i] ^ 0xA5);
    --g_protected;
    return true;
}

bool failing_protect(std::uint8_t*, std::size_t) noexcept
{
    return false;
}

constexpr KeptKeysSeams kTestSeams = {xor_protect, xor_unprotect, test_clock, 1000};

// A vault written and opened as the program does, whose session keys are held.
struct OpenedVault {
    TempWorkingDir dir;
    Database db;
    std::uint8_t keys[format_v2::kKeysSize] = {};

    OpenedVault()
    {
        EXPECT_TRUE(write_vault(kPlaintext, kPassword));
        EXPECT_TRUE(open_vault(db, kPassword));
        EXPECT_TRUE(db.copy_session_keys(keys));
    }
};

KeptKeysResult keep_code(KeptKeys& kept, const OpenedVault& vault, const std::string& code,
                         std::uint64_t deadline = g_now + 8 * kHour)
{
    return kept.keep(vault.keys, vault.db.salt(), vault.db.iterations(), code.data(), code.size(), deadline);
}

KeptKeysResult open_code(KeptKeys& kept, const Database& db, const std::string& code, std::uint8_t keys[64])
{
    return kept.open(code.data(), code.size(), db.salt(), db.iterations(), keys);
}

// True when the bytes of `object` hold `needle` anywhere.
template <class T>
bool holds(const T& object, const std::uint8_t* needle, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&object);
    return std::search(bytes, bytes + sizeof object, needle, needle + size) != bytes + sizeof object;
}

}  // namespace

TEST(KeptKeys, TheRightCodeGivesTheKeysThatOpenTheVault)
{
    g_now = 1000;
    OpenedVault vault;
    KeptKeys kept(kTestSeams);
    const int protected_before = g_protected;
    ASSERT_EQ(KeptKeysResult::kKept, keep_code(kept, vault, "1234"));
    EXPECT_EQ(4u, kept.code_length());
    EXPECT_EQ(protected_before + 1, g_protected) << "the secret stays protected between calls";

    // The next pass of the unlock loop: the vault loaded again, opened with the keys.
    std::string expected = kPlaintext;
    for (const std::string changed : {"changed", "changed again"}) {
        Database db;
        db.set_new_key_iterations(kTestIterations);
        ASSERT_EQ(DB_OK, db.load(kDatabaseFileName));
        std::uint8_t keys[64] = {};
        ASSERT_EQ(KeptKeysResult::kOpened, open_code(kept, db, "1234", keys));
        EXPECT_EQ(to_hex(vault.keys, 64), to_hex(keys, 64));
        ASSERT_EQ(DB_OK, db.decrypt_with_keys(keys));
        EXPECT_EQ(expected, db.plaintext());
        EXPECT_FALSE(db.has_password());
        // A save after the quick unlock needs no password: the keys are the session's.
        db.set_plaintext(changed.data(), static_cast<std::uint32_t>(changed.size()));
        ASSERT_EQ(DB_OK, db.save(kDatabaseFileName));
        EXPECT_EQ(changed, plaintext_of(kDatabaseFileName, kPassword));
        expected = changed;
        ASSERT_EQ(DB_OK, db.reopen(kDatabaseFileName, kPassword, sizeof kPassword - 1));
        // Kept for the next lock.
        EXPECT_TRUE(kept.kept());
        EXPECT_EQ(protected_before + 1, g_protected);
    }
}

TEST(KeptKeys, OneWrongCodeWipesEverything)
{
    g_now = 1000;
    OpenedVault vault;
    const std::string wrong[] = {
        "1235",
        "123",
        "12345",
        "",
        "0234",
        "1234 ",
        "\xC3\xA4"
        "234",
        "234",
    };
    for (const std::string& code : wrong) {
        KeptKeys kept(kTestSeams);
        const int protected_before = g_protected;
        ASSERT_EQ(KeptKeysResult::kKept, keep_code(kept, vault, "1234"));
        std::uint8_t keys[64];
        std::memset(keys, 0x77, sizeof keys);
        EXPECT_EQ(KeptKeysResult::kWrongCode, open_code(kept, vault.db, code, keys)) << code;
        EXPECT_FALSE(kept.kept()) << code;
        EXPECT_EQ(0u, kept.code_length());
        // The right code comes too late: nothing is left to open.
        EXPECT_EQ(KeptKeysResult::kNothingKept, open_code(kept, vault.db, "1234", keys)) << code;
        for (std::uint8_t byte : keys) ASSERT_EQ(0x77, byte) << "keys written after " << code;
        EXPECT_EQ(protected_before + 1, g_protected) << "every unprotect is followed by a protect";
    }
}

TEST(KeptKeys, CodesAreCountedInCodePoints)
{
    g_now = 1000;
    OpenedVault vault;
    const struct {
        const char* code;
        unsigned length;
    } cases[] = {
        {"\xC3\xA4\xC3\xB6\xC3\xBC", 3},  // äöü: six bytes
        {"a\xE2\x82\xAC"
         "b\xF0\x9F\x94\x91",
         4},  // a€b and a key outside the BMP
        {"\xF0\x9F\x94\x91\xF0\x9F\x94\x91\xF0\x9F\x94\x91\xF0\x9F\x94\x91\xF0\x9F\x94\x91", 5},
        {"12345678", 8},
    };
    for (const auto& c : cases) {
        KeptKeys kept(kTestSeams);
        ASSERT_EQ(KeptKeysResult::kKept, keep_code(kept, vault, c.code)) << c.code;
        EXPECT_EQ(c.length, kept.code_length()) << c.code;
        std::uint8_t keys[64] = {};
        EXPECT_EQ(KeptKeysResult::kOpened, open_code(kept, vault.db, c.code, keys)) << c.code;
        EXPECT_EQ(to_hex(vault.keys, 64), to_hex(keys, 64));
    }
    // Too short and too long codes are never kept.
    for (const char* code : {"12", "123456789", ""}) {
        KeptKeys kept(kTestSeams);
        EXPECT_EQ(KeptKeysResult::kFailed, keep_code(kept, vault, code)) << code;
        EXPECT_FALSE(kept.kept());
    }
}

TEST(KeptKeys, TheDeadlineFollowsTheClock)
{
    g_now = 5 * kHour;
    OpenedVault vault;
    KeptKeys kept(kTestSeams);
    const std::uint64_t deadline = g_now + 8 * kHour;
    ASSERT_EQ(KeptKeysResult::kKept, keep_code(kept, vault, "1234", deadline));
    std::uint8_t keys[64] = {};
    g_now = deadline - 1;
    EXPECT_EQ(KeptKeysResult::kKept, kept.check(vault.db.salt(), vault.db.iterations()));
    EXPECT_EQ(KeptKeysResult::kOpened, open_code(kept, vault.db, "1234", keys));
    g_now = deadline;
    EXPECT_EQ(KeptKeysResult::kExpired, open_code(kept, vault.db, "1234", keys));
    EXPECT_FALSE(kept.kept());
    // A lock after the deadline keeps nothing.
    EXPECT_EQ(KeptKeysResult::kExpired, keep_code(kept, vault, "1234", deadline));
    EXPECT_FALSE(kept.kept());
    g_now = 1000;
}

TEST(KeptKeys, AVaultReKeyedElsewhereIsRefused)
{
    g_now = 1000;
    OpenedVault vault;
    std::uint8_t keys[64] = {};
    {
        // Another program changed the password: a new salt.
        KeptKeys kept(kTestSeams);
        ASSERT_EQ(KeptKeysResult::kKept, keep_code(kept, vault, "1234"));
        ASSERT_TRUE(write_vault(kPlaintext, "another password of some length"));
        Database db;
        ASSERT_EQ(DB_OK, db.load(kDatabaseFileName));
        EXPECT_EQ(KeptKeysResult::kRekeyed, open_code(kept, db, "1234", keys));
        EXPECT_FALSE(kept.kept());
    }
    {
        // The same salt with another iteration count.
        KeptKeys kept(kTestSeams);
        ASSERT_EQ(KeptKeysResult::kKept, keep_code(kept, vault, "1234"));
        EXPECT_EQ(KeptKeysResult::kRekeyed, kept.check(vault.db.salt(), vault.db.iterations() + 1));
        EXPECT_FALSE(kept.kept());
    }
    for (std::uint8_t byte : keys) ASSERT_EQ(0, byte);
}

TEST(KeptKeys, HoldsNoKeyCodeOrSecretInTheClear)
{
    g_now = 1000;
    OpenedVault vault;
    KeptKeys kept(kTestSeams);
    ASSERT_EQ(KeptKeysResult::kKept, keep_code(kept, vault, "XYZW"));
    for (std::size_t at = 0; at + 8 <= 64; at += 8) EXPECT_FALSE(holds(kept, vault.keys + at, 8)) << at;
    EXPECT_FALSE(holds(kept, reinterpret_cast<const std::uint8_t*>("XYZW"), 4));
    // A failing protection keeps nothing.
    KeptKeys unprotected(KeptKeysSeams{failing_protect, xor_unprotect, test_clock, 1000});
    EXPECT_EQ(KeptKeysResult::kFailed, keep_code(unprotected, vault, "1234"));
    EXPECT_FALSE(unprotected.kept());
    // After a wipe, every kept byte is zero again: from the deadline on (the object lives
    // in a buffer that was zero; the flag, the length and their padding come before it,
    // and the last word may be padding too).
    alignas(KeptKeys) std::uint8_t buffer[sizeof(KeptKeys)] = {};
    KeptKeys* in_buffer = new (buffer) KeptKeys(kTestSeams);
    ASSERT_EQ(KeptKeysResult::kKept, keep_code(*in_buffer, vault, "1234"));
    const std::size_t from = sizeof(KeptKeysSeams) + 8;
    const std::size_t to = sizeof buffer - 8;
    const std::vector<std::uint8_t> zeros(to - from, 0);
    EXPECT_NE(to_hex(zeros), to_hex(std::vector<std::uint8_t>(buffer + from, buffer + to)));
    in_buffer->wipe();
    EXPECT_EQ(to_hex(zeros), to_hex(std::vector<std::uint8_t>(buffer + from, buffer + to)));
    EXPECT_FALSE(in_buffer->kept());
    EXPECT_EQ(0u, in_buffer->code_length());
    in_buffer->~KeptKeys();
}

TEST(KeptKeys, TheProgramsOwnSeams)
{
    // The derivation costs at least 100,000 iterations, and the process's own
    // protection and clock round-trip.
    const KeptKeysSeams seams = process_kept_keys_seams();
    EXPECT_GE(seams.iterations, quick_unlock::kMinCodeIterations);
    const std::uint64_t before = seams.now();
    OpenedVault vault;
    KeptKeys kept;
    ASSERT_EQ(KeptKeysResult::kKept, keep_code(kept, vault, "1234", seams.now() + kHour));
    std::uint8_t keys[64] = {};
    ASSERT_EQ(KeptKeysResult::kOpened, open_code(kept, vault.db, "1234", keys));
    EXPECT_EQ(to_hex(vault.keys, 64), to_hex(keys, 64));
    EXPECT_GE(seams.now(), before);
    EXPECT_EQ(KeptKeysResult::kWrongCode, open_code(kept, vault.db, "4321", keys));
}

TEST(KeptKeys, TheCodeIsTheLastCodePointsOfALongEnoughPassword)
{
    const struct {
        const char* password;
        unsigned length;
        const char* code;  // empty: not offered
    } cases[] = {
        {"correct horse battery", 4, "tery"},
        {"123456789abc", 4, "9abc"},  // exactly N + 8
        {"23456789abc", 4, ""},  // N + 7
        {"12345678abc", 3, "abc"},
        {"\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC", 3, ""},  // 9 code points
        {"password\xC3\xA4\xC3\xB6\xC3\xBC", 3, "\xC3\xA4\xC3\xB6\xC3\xBC"},
        {"long passphrase \xF0\x9F\x94\x91!", 2, "\xF0\x9F\x94\x91!"},
        {"a long master password", 8, "password"},
        {"", 3, ""},
    };
    for (const auto& c : cases) {
        const SecretString password(c.password, std::strlen(c.password));
        EXPECT_EQ(std::string(c.code), quick_unlock_code(password, c.length).str()) << c.password;
    }
    EXPECT_EQ(5u,
              count_code_points("a\xE2\x82\xAC"
                                "b\xF0\x9F\x94\x91z",
                                10));
}

TEST(KeptKeys, AfterAQuickUnlockTheKeysReloadTheVaultAsLongAsItsSaltStays)
{
    g_now = 1000;
    OpenedVault vault;
    KeptKeys kept(kTestSeams);
    ASSERT_EQ(KeptKeysResult::kKept, keep_code(kept, vault, "1234"));
    Database db;
    db.set_new_key_iterations(kTestIterations);
    ASSERT_EQ(DB_OK, db.load(kDatabaseFileName));
    std::uint8_t keys[64] = {};
    ASSERT_EQ(KeptKeysResult::kOpened, open_code(kept, db, "1234", keys));
    ASSERT_EQ(DB_OK, db.decrypt_with_keys(keys));

    // Another writer saves under the same password: the salt stays, the keys open it.
    vault.db.set_plaintext("theirs", 6);
    ASSERT_EQ(DB_OK, vault.db.save(kDatabaseFileName));
    ASSERT_EQ(DB_OK, db.reopen(kDatabaseFileName));
    EXPECT_EQ("theirs", db.plaintext());

    // Another writer changes the password: the keys held do not open it, and the
    // container is as it was.
    ASSERT_TRUE(write_vault("theirs", "a new password"));
    EXPECT_EQ(DB_WRONG_PASSWORD, db.reopen(kDatabaseFileName));
    EXPECT_EQ("theirs", db.plaintext());
    EXPECT_FALSE(db.has_password());
    // With the password typed, it opens.
    ASSERT_EQ(DB_OK, db.reopen(kDatabaseFileName, "a new password", 14));
    EXPECT_EQ("theirs", db.plaintext());
}

TEST(KeptKeys, TheFullPasswordIsTakenOnlyWhenItDerivesTheKeysHeld)
{
    g_now = 1000;
    OpenedVault vault;
    Database db;
    db.set_new_key_iterations(kTestIterations);
    ASSERT_EQ(DB_OK, db.load(kDatabaseFileName));
    ASSERT_EQ(DB_OK, db.decrypt_with_keys(vault.keys));
    for (const char* wrong : {"", "1234", "correct horse battery staple 123", "correct horse battery staple 12345"}) {
        EXPECT_EQ(DB_WRONG_PASSWORD, db.take_password_of_keys(wrong, static_cast<std::uint32_t>(std::strlen(wrong))))
            << wrong;
        EXPECT_FALSE(db.has_password());
    }
    ASSERT_EQ(DB_OK, db.take_password_of_keys(kPassword, sizeof kPassword - 1));
    EXPECT_TRUE(db.password_equals(kPassword, sizeof kPassword - 1));
    std::uint8_t keys[64] = {};
    ASSERT_TRUE(db.copy_session_keys(keys));
    EXPECT_EQ(to_hex(vault.keys, 64), to_hex(keys, 64));
    // The salt stays: the file still opens with the kept keys after a save.
    db.set_plaintext("x", 1);
    ASSERT_EQ(DB_OK, db.save(kDatabaseFileName));
    Database again;
    ASSERT_EQ(DB_OK, again.load(kDatabaseFileName));
    EXPECT_EQ(to_hex(vault.db.salt(), kSaltSize), to_hex(again.salt(), kSaltSize));
    // Without keys there is nothing to compare with.
    Database fresh;
    EXPECT_EQ(DB_NO_PASSWORD, fresh.take_password_of_keys(kPassword, sizeof kPassword - 1));
}
