// Faults that no file can cause: a random source that throws and a key
// derivation that cannot get its work buffer. The container reaches both through
// its seams (db_random_bytes, db_pbkdf2 in db/database.h), which these tests point
// at functions that fail on demand.

#include "tests/support/files.h"
#include "tests/support/hex.h"
#include "tests/support/vaults.h"

#include <gtest/gtest.h>

#include "crypto/keyed.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {
int g_random_calls_until_failure = -1;  // -1: never fail
bool g_kdf_fails = false;
std::string g_file_appearing;  // written at the next draw: another program's file

void failing_random_bytes(std::uint8_t* out, std::uint32_t count)
{
    if (!g_file_appearing.empty()) write_file(g_file_appearing, "written meanwhile");
    g_file_appearing.clear();
    if (g_random_calls_until_failure == 0) throw std::out_of_range("invalid random_device value");
    if (g_random_calls_until_failure > 0) --g_random_calls_until_failure;
    random_bytes(out, count);
}

int failing_pbkdf2(const std::uint8_t* password, std::uint32_t password_len, const std::uint8_t* salt,
                   std::uint32_t salt_len, std::uint8_t* out, std::uint32_t out_len, std::uint32_t iterations,
                   prf_fn prf, std::uint32_t prf_len)
{
    if (g_kdf_fails) return -1;
    return format_v1::pbkdf2(password, password_len, salt, salt_len, out, out_len, iterations, prf, prf_len);
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
        db_pbkdf2 = format_v1::pbkdf2;
        g_random_calls_until_failure = -1;
        g_kdf_fails = false;
        g_file_appearing.clear();
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
        EXPECT_TRUE(db.decrypted());
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
    const Bytes ciphertext(db.data(), db.data() + db.data_length());
    g_kdf_fails = true;
    EXPECT_EQ(db.decrypt(), DB_KDF_FAILED);
    EXPECT_EQ(db.last_error(), kKdfFailed);
    EXPECT_FALSE(db.decrypted());
    EXPECT_BYTES_EQ(ciphertext, Bytes(db.data(), db.data() + db.data_length()));

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

// A new vault (the first run, the companion's init) never takes the place of
// anything of its name: neither what was there nor a file that appears while the
// vault is encrypted and written.
TEST_F(DatabaseFault, ANewVaultNeverReplacesWhatHasItsName)
{
    for (const char* when : {"appears meanwhile", "was there", "a folder"}) {
        SCOPED_TRACE(when);
        TempDir dir;
        const std::string path = dir.file("passwords.gkv");
        if (std::string(when) == "appears meanwhile") g_file_appearing = path;
        if (std::string(when) == "was there") write_file(path, "written meanwhile");
        if (std::string(when) == "a folder") std::filesystem::create_directory(path);
        Database db;
        db.set_password("pw", 2);
        db.set_plaintext("", 0);
        EXPECT_EQ(db.save_new(path), DB_IO_ERROR);
        EXPECT_EQ(db.last_error(), "File exists");
        if (std::string(when) != "a folder") {
            EXPECT_EQ(read_file(path), "written meanwhile");
        }
        EXPECT_EQ(dir.names(), std::vector<std::string>{"passwords.gkv"}) << "a file was left behind";
    }
    TempDir dir;
    Database db;
    db.set_password("pw", 2);
    db.set_plaintext("text", 4);
    ASSERT_EQ(db.save_new(dir.file("passwords.gkv")), DB_OK) << db.last_error();
    Database check;
    check.set_password("pw", 2);
    ASSERT_EQ(check.load(dir.file("passwords.gkv")), DB_OK);
    ASSERT_EQ(check.decrypt(), DB_OK);
    EXPECT_EQ(check.plaintext(), "text");
}

}  // namespace
