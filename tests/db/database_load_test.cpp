// Loading vault files: every status and text that a real file can produce, what
// the container holds afterwards, and the bounds on what a hostile file can make
// it allocate. None of these cases needs a password.

#include "tests/support/allocation_control.h"
#include "tests/support/files.h"
#include "tests/support/hex.h"
#include "tests/support/vaults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>

namespace {

const char kInsufficientSize[] = "File has insufficient size (file corrupted?)";
const char kNotDatabase[] = "This file is not database file for this program";
const char kBadVersion[] = "Unsupported file version";
const char kCannotReadCiphertext[] = "Cannot read ciphertext from file (file corrupted?)";

Bytes pattern(std::size_t size)
{
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return out;
}

Bytes valid_image(const Bytes& ciphertext)
{
    return vault_image("GLIMKEEPDB", "1.0", Bytes(32, 0xa1), Bytes(12, 0xb2), Bytes(32, 0xc3), ciphertext);
}

// A container that holds plaintext, to see whether a load discards it.
void hold_plaintext(Database& db)
{
    db.set_plaintext("secret text", 11);
    ASSERT_TRUE(db.decrypted());
    ASSERT_EQ(db.plaintext(), "secret text");
}

class DatabaseLoad : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("passwords.gkv");

    int load_image(Database& db, const Bytes& image)
    {
        write_file(path, image);
        return db.load(path);
    }
};

TEST_F(DatabaseLoad, NewContainerIsEmpty)
{
    Database db;
    EXPECT_FALSE(db.decrypted());
    EXPECT_EQ(db.last_error(), "");
    EXPECT_EQ(db.data(), nullptr);
    EXPECT_EQ(db.data_length(), 0u);
    EXPECT_FALSE(db.has_password());
    EXPECT_EQ(db.plaintext(), "");
}

TEST_F(DatabaseLoad, MissingFileOrFolderReportsTheSystemText)
{
    Database db;
    hold_plaintext(db);
    EXPECT_EQ(db.load(dir.file("absent.gkv")), DB_IO_ERROR);
    EXPECT_EQ(db.last_error(), std::strerror(ENOENT));
    EXPECT_EQ(db.last_error(), "No such file or directory");
    EXPECT_EQ(db.load(dir.file("no-folder/passwords.gkv")), DB_IO_ERROR);
    EXPECT_EQ(db.last_error(), "No such file or directory");
    // A failed open leaves the container as it was.
    EXPECT_EQ(db.plaintext(), "secret text");
}

TEST_F(DatabaseLoad, FolderIsRefusedAtTheOpen)
{
    Database db;
    hold_plaintext(db);
    EXPECT_EQ(db.load(narrow(dir.path())), DB_IO_ERROR);
#ifdef _WIN32
    EXPECT_EQ(db.last_error(), std::strerror(EACCES));
#else
    EXPECT_EQ(db.last_error(), std::strerror(EISDIR));
#endif
    EXPECT_EQ(db.plaintext(), "secret text");
}

TEST_F(DatabaseLoad, ShortFilesAreRefusedBeforeTheDataIsTouched)
{
    for (std::size_t size : {0u, 1u, 10u, 92u}) {
        SCOPED_TRACE(size);
        Database db;
        hold_plaintext(db);
        Bytes image = valid_image({});
        image.resize(size);
        EXPECT_EQ(load_image(db, image), DB_BAD_FORMAT);
        EXPECT_EQ(db.last_error(), kInsufficientSize);
        EXPECT_EQ(db.plaintext(), "secret text");
        EXPECT_TRUE(db.decrypted());
    }
}

TEST_F(DatabaseLoad, HeaderOnlyFileIsAnEmptyVault)
{
    Database db;
    Bytes image = valid_image({});
    ASSERT_EQ(image.size(), format_v1::kHeaderSize);
    ASSERT_EQ(load_image(db, image), DB_OK) << db.last_error();
    ASSERT_NE(db.data(), nullptr);  // present, zero bytes long
    EXPECT_EQ(db.data_length(), 0u);
    EXPECT_FALSE(db.decrypted());
    EXPECT_EQ(db.major_version(), 1);
    EXPECT_EQ(db.minor_version(), 0);
    EXPECT_BYTES_EQ(Bytes(32, 0xa1), Bytes(db.salt(), db.salt() + 32));
    EXPECT_BYTES_EQ(Bytes(12, 0xb2), Bytes(db.nonce(), db.nonce() + 12));
    EXPECT_BYTES_EQ(Bytes(32, 0xc3), Bytes(db.mac(), db.mac() + 32));
    EXPECT_EQ(db.last_error(), "");  // success leaves the text alone
}

TEST_F(DatabaseLoad, CiphertextIsHeldButNeverHandedOutAsPlaintext)
{
    Database db;
    hold_plaintext(db);
    db.set_password("pw", 2);
    Bytes ciphertext = pattern(300);
    ASSERT_EQ(load_image(db, valid_image(ciphertext)), DB_OK) << db.last_error();
    EXPECT_FALSE(db.decrypted());
    EXPECT_EQ(db.plaintext(), "");
    ASSERT_EQ(db.data_length(), 300u);
    EXPECT_BYTES_EQ(ciphertext, Bytes(db.data(), db.data() + 300));
    // The password is not the file's business.
    ASSERT_TRUE(db.has_password());
    EXPECT_TRUE(db.password_equals("pw", 2));
}

TEST_F(DatabaseLoad, ForeignTagsAndMalformedVersionsAreNotVaults)
{
    const struct {
        const char* magic;
        const char* version;
    } cases[] = {
        {"GLIMKEEPDc", "1.0"}, {"glimkeepdb", "1.0"}, {"XLIMKEEPDB", "1.0"}, {"GLIMKEEPD\0", "1.0"},
        {"GLIMKEEPDB", "1,0"}, {"GLIMKEEPDB", "100"}, {"GLIMKEEPDB", "a.0"}, {"GLIMKEEPDB", "1.x"},
        {"GLIMKEEPDB", " .0"}, {"GLIMKEEPDB", "/.0"}, {"GLIMKEEPDB", "1.:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.magic, 10) + " " + c.version);
        Database db;
        hold_plaintext(db);
        Bytes image = vault_image(std::string(c.magic, 10), c.version, Bytes(32), Bytes(12), Bytes(32), pattern(20));
        EXPECT_EQ(load_image(db, image), DB_BAD_FORMAT);
        EXPECT_EQ(db.last_error(), kNotDatabase);
        // The file was opened and is long enough: the earlier plaintext is gone,
        // and the flag keeps its value, which means nothing without data.
        EXPECT_EQ(db.data(), nullptr);
        EXPECT_EQ(db.data_length(), 0u);
        EXPECT_EQ(db.plaintext(), "");
    }
}

TEST_F(DatabaseLoad, OtherVersionsAreUnsupported)
{
    for (const char* version : {"0.9", "1.1", "2.1", "0.0", "9.9", "1.9"}) {
        SCOPED_TRACE(version);
        Database db;
        hold_plaintext(db);
        Bytes image = vault_image("GLIMKEEPDB", version, Bytes(32), Bytes(12), Bytes(32), pattern(5));
        EXPECT_EQ(load_image(db, image), DB_BAD_VERSION);
        EXPECT_EQ(db.last_error(), kBadVersion);
        EXPECT_EQ(db.major_version(), version[0] - '0');
        EXPECT_EQ(db.minor_version(), version[2] - '0');
        EXPECT_EQ(db.data(), nullptr);
    }
}

TEST_F(DatabaseLoad, LengthBeyondTheFileIsRefusedWithoutAllocatingIt)
{
    for (std::uint32_t length : {101u, 1000u, 0x00100000u, 0x7fffffffu, 0xffffffffu}) {
        SCOPED_TRACE(length);
        Database db;
        hold_plaintext(db);
        Bytes image = vault_image_with_length(length, pattern(100));
        write_file(path, image);
        std::size_t largest = 0;
        {
            AllocationProbe probe;
            EXPECT_EQ(db.load(path), DB_IO_ERROR);
            largest = probe.largest();
        }
        EXPECT_EQ(db.last_error(), kCannotReadCiphertext);
        EXPECT_EQ(db.data(), nullptr);
        EXPECT_EQ(db.data_length(), 0u);
        EXPECT_LE(largest, image.size()) << "allocated " << largest << " bytes for a " << image.size() << "-byte file";
    }
}

TEST_F(DatabaseLoad, AllocationProbeSeesTheCiphertextBuffer)
{
    // The check above is only worth something if the probe sees the buffer of a load.
    Database db;
    write_file(path, valid_image(pattern(5000)));
    std::size_t largest = 0;
    {
        AllocationProbe probe;
        ASSERT_EQ(db.load(path), DB_OK) << db.last_error();
        largest = probe.largest();
    }
    EXPECT_EQ(largest, 5000u);
}

TEST_F(DatabaseLoad, RunningOutOfMemoryIsAFailedLoad)
{
    Database db;
    hold_plaintext(db);
    write_file(path, valid_image(pattern(5000)));
    int status;
    {
        AllocationProbe probe;
        probe.fail_from(4096);
        status = db.load(path);
    }
    EXPECT_EQ(status, DB_IO_ERROR);
    EXPECT_EQ(db.last_error(), "Not enough memory to load the file");
    EXPECT_EQ(db.data(), nullptr);
    EXPECT_EQ(db.data_length(), 0u);
    // With memory back, the same file loads.
    EXPECT_EQ(db.load(path), DB_OK);
}

TEST_F(DatabaseLoad, RunningOutOfMemoryInCopiesLeavesAConsistentContainer)
{
    Database db;
    hold_plaintext(db);
    db.set_password("pw", 2);
    std::string big(10000, 'b');
    {
        AllocationProbe probe;
        probe.fail_from(4096);
        EXPECT_THROW(db.set_plaintext(big.data(), 10000), std::bad_alloc);
        EXPECT_THROW(db.set_password(big.data(), 10000), std::bad_alloc);
    }
    // The old copies were wiped first; nothing claims bytes it does not have.
    EXPECT_EQ(db.data(), nullptr);
    EXPECT_EQ(db.data_length(), 0u);
    EXPECT_FALSE(db.has_password());
}

TEST_F(DatabaseLoad, LengthUpToTheEndOfTheFileIsRead)
{
    Bytes ciphertext = pattern(64);
    Database db;
    EXPECT_EQ(load_image(db, vault_image_with_length(64, ciphertext)), DB_OK) << db.last_error();
    EXPECT_EQ(db.data_length(), 64u);
    EXPECT_EQ(load_image(db, vault_image_with_length(65, ciphertext)), DB_IO_ERROR);
    EXPECT_EQ(db.last_error(), kCannotReadCiphertext);
    EXPECT_EQ(db.data(), nullptr);
}

TEST_F(DatabaseLoad, TrailingBytesAreIgnoredAndDroppedByTheNextSave)
{
    Bytes ciphertext = pattern(40);
    Bytes image = valid_image(ciphertext);
    Bytes with_tail = image;
    for (int i = 0; i < 25; ++i) with_tail.push_back(0xee);
    Database db;
    ASSERT_EQ(load_image(db, with_tail), DB_OK) << db.last_error();
    ASSERT_EQ(db.data_length(), 40u);
    EXPECT_BYTES_EQ(ciphertext, Bytes(db.data(), db.data() + 40));
    // A container that was loaded but not decrypted writes back the same vault.
    ASSERT_EQ(db.save(path), DB_OK) << db.last_error();
    EXPECT_BYTES_EQ(image, read_bytes(path));
}

TEST_F(DatabaseLoad, LoadedVersionIsWrittenBackAsOnePointZero)
{
    Database db;
    Bytes image = valid_image(pattern(3));
    ASSERT_EQ(load_image(db, image), DB_OK);
    ASSERT_EQ(db.save(path), DB_OK) << db.last_error();
    EXPECT_BYTES_EQ(image, read_bytes(path));
}

TEST_F(DatabaseLoad, HeaderThatCannotBeReadIsReported)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs a Linux file whose size exceeds what it yields (sysfs)";
#else
    // sysfs files claim 4096 bytes and yield a few dozen: the header read fails.
    const std::string file = "/sys/kernel/mm/transparent_hugepage/enabled";
    std::error_code ec;
    if (!std::ifstream(file).good() || fs::file_size(file, ec) < format_v1::kHeaderSize ||
        read_bytes(file).size() >= format_v1::kHeaderSize)
        GTEST_SKIP() << file << " does not claim more bytes than it yields here";
    Database db;
    hold_plaintext(db);
    EXPECT_EQ(db.load(file), DB_IO_ERROR);
    EXPECT_EQ(db.last_error(), "Cannot read file header");
    EXPECT_EQ(db.data(), nullptr);
#endif
}

TEST_F(DatabaseLoad, EachLoadReplacesTheWholeImage)
{
    Database db;
    ASSERT_EQ(load_image(db, valid_image(pattern(70))), DB_OK);
    Bytes other = vault_image("GLIMKEEPDB", "1.0", Bytes(32, 1), Bytes(12, 2), Bytes(32, 3), pattern(9));
    ASSERT_EQ(load_image(db, other), DB_OK);
    EXPECT_EQ(db.data_length(), 9u);
    EXPECT_BYTES_EQ(Bytes(32, 1), Bytes(db.salt(), db.salt() + 32));
    EXPECT_BYTES_EQ(Bytes(12, 2), Bytes(db.nonce(), db.nonce() + 12));
    EXPECT_BYTES_EQ(Bytes(32, 3), Bytes(db.mac(), db.mac() + 32));
    EXPECT_BYTES_EQ(pattern(9), Bytes(db.data(), db.data() + 9));
}

TEST(DatabaseBuffers, CopiesInAndOutAndWipes)
{
    Database db;
    db.set_password("", 0);
    EXPECT_TRUE(db.has_password());  // an empty password is a given password
    EXPECT_TRUE(db.password_equals("", 0));
    db.set_password("hunter2", 7);
    EXPECT_TRUE(db.password_equals("hunter2", 7));
    EXPECT_FALSE(db.password_equals("hunter3", 7));
    EXPECT_FALSE(db.password_equals("hunter", 6));
    db.wipe_password();
    EXPECT_FALSE(db.has_password());
    EXPECT_FALSE(db.password_equals("", 0));
    db.wipe_password();  // absent: nothing happens

    db.set_plaintext("", 0);
    EXPECT_NE(db.data(), nullptr);
    EXPECT_TRUE(db.decrypted());
    EXPECT_EQ(db.plaintext(), "");
    const std::string text("a\0b\r\nc", 6);
    db.set_plaintext(text.data(), 6);
    EXPECT_EQ(db.plaintext(), text);
    db.wipe_data();
    EXPECT_EQ(db.data(), nullptr);
    EXPECT_EQ(db.data_length(), 0u);
    EXPECT_EQ(db.plaintext(), "");
}

}  // namespace
