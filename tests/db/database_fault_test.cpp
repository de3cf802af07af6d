// Faults that no file can cause: a random source that throws and a key
// derivation that cannot get its work buffer. The container reaches both through
// its seams (db_random_bytes, db_pbkdf2 in db/database.h), which these tests point
// at functions that fail on demand.

#include "tests/support/files.h"
#include "tests/support/hex.h"
#include "tests/support/vaults.h"

#include <gtest/gtest.h>

#include "crypto/keyed.h"

#include <stdexcept>

namespace {
int g_random_calls_until_failure = -1;  // -1: never fail
bool g_kdf_fails = false;

void failing_random_bytes(std::uint8_t* out, std::uint32_t count)
{
    if (g_random_calls_until_failure == 0) throw std::out_of_range("invalid random_device value");
    if (g_random_calls_until_failure > 0) --g_random_calls_until_failure;
    random_bytes(out, count);
}

int failing_pbkdf2(const std::uint8_t* password, std::uint32_t password_len, const std::uint8_t* salt,
                   std::uint32_t salt_len, std::uint8_t* out, std::uint32_t out_len, std::uint32_t iterations,
                   prf_fn prf, std::uint32_t prf_len)
{
    if (g_kdf_fails) return -1;
    return pbkdf2(password, password_len, salt, salt_len, out, out_len, iterations, prf, prf_len);
}
}  // namespace

namespace {

const char kRandomFailed[] = "The random number generator failed";
const char kKdfFailed[] = "Password based key derivation function failed";

class DatabaseFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        db_random_bytes = failing_random_bytes;
        db_pbkdf2 = failing_pbkdf2;
    }
    void TearDown() override
    {
        db_random_bytes = random_bytes;
        db_pbkdf2 = pbkdf2;
        g_random_calls_until_failure = -1;
        g_kdf_fails = false;
    }
};

TEST_F(DatabaseFault, FailingRandomSourceIsAStatusNotAnException)
{
    for (int calls_before_failure : {0, 1}) {  // the salt's draw, then the nonce's
        SCOPED_TRACE(calls_before_failure);
        TempDir dir;
        Database10 db;
        db.set_password("pw", 2);
        db.set_plaintext("plain", 5);
        g_random_calls_until_failure = calls_before_failure;
        int status = DB_OK;
        EXPECT_NO_THROW(status = db.encrypt());
        EXPECT_EQ(status, DB_RANDOM_FAILED);
        EXPECT_EQ(db.last_error(), kRandomFailed);
        EXPECT_TRUE(db.decrypted);
        EXPECT_EQ(db.plaintext(), "plain");

        g_random_calls_until_failure = calls_before_failure;
        EXPECT_NO_THROW(status = db.save(dir.file("passwords.gkv")));
        EXPECT_EQ(status, DB_RANDOM_FAILED);
        EXPECT_EQ(db.last_error(), kRandomFailed);
        EXPECT_TRUE(dir.names().empty());
        EXPECT_EQ(db.plaintext(), "plain");

        // Once the source works again, the same container saves.
        g_random_calls_until_failure = -1;
        EXPECT_EQ(db.save(dir.file("passwords.gkv")), DB_OK) << db.last_error();
    }
}

TEST_F(DatabaseFault, FailingKeyDerivation)
{
    TempDir dir;
    make_vault(dir.file("v.gkv"), "pw", "text");
    Database10 db;
    db.set_password("pw", 2);
    ASSERT_EQ(db.load(dir.file("v.gkv")), DB_OK);
    const Bytes ciphertext(db.data.get(), db.data.get() + db.data_length);
    g_kdf_fails = true;
    EXPECT_EQ(db.decrypt(), DB_KDF_FAILED);
    EXPECT_EQ(db.last_error(), kKdfFailed);
    EXPECT_FALSE(db.decrypted);
    EXPECT_BYTES_EQ(ciphertext, Bytes(db.data.get(), db.data.get() + db.data_length));

    db.set_plaintext("new", 3);
    EXPECT_EQ(db.save(dir.file("v.gkv")), DB_KDF_FAILED);
    EXPECT_EQ(db.last_error(), kKdfFailed);
    EXPECT_EQ(db.plaintext(), "new");
    g_kdf_fails = false;
    Database check;
    check.set_password("pw", 2);
    ASSERT_EQ(check.load(dir.file("v.gkv")), DB_OK);
    ASSERT_EQ(check.decrypt(), DB_OK);
    EXPECT_EQ(check.plaintext(), "text");  // the failed save left the vault alone
}

}  // namespace
