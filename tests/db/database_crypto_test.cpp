// Encryption and decryption of the vault (formats 1.0 and 2.0): round trips, every status the
// operations return, tampering with each byte of a real vault, and the golden
// vaults written by tests/db/vault.py (an independent Python implementation that
// uses the `cryptography` package's AES and hashlib's SHA3-256). Natively the
// script also reads vaults that the container wrote.

#include "tests/support/files.h"
#include "tests/support/hex.h"
#include "tests/support/vaults.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

const char kNoData[] = "No data loaded";
const char kAlreadyDecrypted[] = "The file is already decrypted";
const char kAlreadyEncrypted[] = "The file is already encrypted";
const char kNoPassword[] = "No password given";
const char kWrongPassword[] = "This file was not encrypted with the given password";

// tests/db/golden/tree.gkv, written by tests/db/golden/make.sh.
const char kTreePassword[] = "correct horse \xe2\x9c\x93 battery";
const char kTreePlaintext[] = "Email\r\n\tuser: alice@example.org\r\n\tpassword: s3cr\xc3\xa9t \xe2\x9c\x93\r\n"
                              "Bank\r\n\tpin: 0000\r\n";

void set_password(Database& db, const std::string& password)
{
    db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
}

void set_plaintext(Database& db, const std::string& text)
{
    db.set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
}

Bytes data_of(const Database& db)
{
    return db.data() ? Bytes(db.data(), db.data() + db.data_length()) : Bytes();
}

// What a vault holds after a load and a decrypt with `password`.
struct Opened {
    int load_status = -1;
    int decrypt_status = -1;
    std::string plaintext;
};

Opened open_vault(const std::string& path, const std::string& password)
{
    Opened result;
    Database db;
    set_password(db, password);
    result.load_status = db.load(path);
    if (result.load_status == DB_OK) {
        result.decrypt_status = db.decrypt();
        result.plaintext = db.plaintext();
    }
    return result;
}

TEST(DatabaseCrypto, RoundTripGivesBackTheBytes)
{
    const char raw[] = "Line\r\n\tname: value\r\n\0binary\xff";
    const std::string text(raw, sizeof raw - 1);
    Database10 db;
    set_password(db, "pw");
    set_plaintext(db, text);
    ASSERT_EQ(db.encrypt(), DB_OK) << db.last_error();
    EXPECT_FALSE(db.decrypted());
    EXPECT_EQ(db.plaintext(), "");
    EXPECT_NE(to_hex(data_of(db)), to_hex(bytes_of(text)));
    ASSERT_EQ(db.decrypt(), DB_OK) << db.last_error();
    EXPECT_TRUE(db.decrypted());
    EXPECT_EQ(to_hex(bytes_of(db.plaintext())), to_hex(bytes_of(text)));
}

TEST(DatabaseCrypto, WrongPasswordChangesNothingAndTheRightOneStillWorks)
{
    Database10 db;
    set_password(db, "right");
    set_plaintext(db, "the secret list");
    ASSERT_EQ(db.encrypt(), DB_OK);
    const Bytes ciphertext = data_of(db);
    const Bytes mac(db.mac(), db.mac() + kMacSize);

    for (const char* wrong : {"wrong", "righ", "right ", "Right", ""}) {
        SCOPED_TRACE(wrong);
        set_password(db, wrong);
        EXPECT_EQ(db.decrypt(), DB_WRONG_PASSWORD);
        EXPECT_EQ(db.last_error(), kWrongPassword);
        EXPECT_FALSE(db.decrypted());
        EXPECT_BYTES_EQ(ciphertext, data_of(db));
        EXPECT_BYTES_EQ(mac, Bytes(db.mac(), db.mac() + kMacSize));
    }
    set_password(db, "right");
    ASSERT_EQ(db.decrypt(), DB_OK) << db.last_error();
    EXPECT_EQ(db.plaintext(), "the secret list");
}

TEST(DatabaseCrypto, EveryEncryptionIsFresh)
{
    Database a, b;
    for (Database* db : {&a, &b}) {
        set_password(*db, "same");
        set_plaintext(*db, "same text, more than one block long");
        ASSERT_EQ(db->encrypt(), DB_OK);
    }
    EXPECT_NE(to_hex(a.salt(), kSaltSize), to_hex(b.salt(), kSaltSize));
    EXPECT_NE(to_hex(a.nonce(), kNonceSize), to_hex(b.nonce(), kNonceSize));
    EXPECT_NE(to_hex(a.mac(), kMacSize), to_hex(b.mac(), kMacSize));
    EXPECT_NE(to_hex(data_of(a)), to_hex(data_of(b)));
}

TEST(DatabaseCrypto, EmptyPlaintextHasAnEmptyCiphertextAndAMac)
{
    Database10 db;
    set_password(db, "pw");
    set_plaintext(db, "");
    ASSERT_EQ(db.encrypt(), DB_OK);
    EXPECT_EQ(db.data_length(), 0u);
    EXPECT_NE(to_hex(db.mac(), kMacSize), to_hex(Bytes(kMacSize)));
    ASSERT_EQ(db.decrypt(), DB_OK);
    EXPECT_NE(db.data(), nullptr);
    EXPECT_EQ(db.plaintext(), "");
    set_password(db, "other");
    ASSERT_EQ(db.encrypt(), DB_OK);
    set_password(db, "pw");
    EXPECT_EQ(db.decrypt(), DB_WRONG_PASSWORD);
}

TEST(DatabaseCrypto, StatusesOfOperationsInTheWrongState)
{
    Database10 db;
    EXPECT_EQ(db.encrypt(), DB_NO_DATA);
    EXPECT_EQ(db.last_error(), kNoData);
    EXPECT_EQ(db.decrypt(), DB_NO_DATA);
    EXPECT_EQ(db.last_error(), kNoData);
    TempDir dir;
    EXPECT_EQ(db.save(dir.file("passwords.gkv")), DB_NO_DATA);
    EXPECT_EQ(db.last_error(), kNoData);
    EXPECT_TRUE(dir.names().empty());

    set_password(db, "pw");
    set_plaintext(db, "text");
    EXPECT_EQ(db.decrypt(), DB_ALREADY_DECRYPTED);
    EXPECT_EQ(db.last_error(), kAlreadyDecrypted);
    EXPECT_EQ(db.plaintext(), "text");
    ASSERT_EQ(db.encrypt(), DB_OK);
    const Bytes ciphertext = data_of(db);
    EXPECT_EQ(db.encrypt(), DB_ALREADY_ENCRYPTED);
    EXPECT_EQ(db.last_error(), kAlreadyEncrypted);
    EXPECT_BYTES_EQ(ciphertext, data_of(db));
    ASSERT_EQ(db.decrypt(), DB_OK);
    EXPECT_EQ(db.decrypt(), DB_ALREADY_DECRYPTED);
    EXPECT_EQ(db.plaintext(), "text");
}

TEST(DatabaseCrypto, NoPasswordAtAll)
{
    Database10 db;
    set_plaintext(db, "text");
    std::uint8_t old_salt[kSaltSize], old_nonce[kNonceSize];
    std::memcpy(old_salt, db.salt(), kSaltSize);
    std::memcpy(old_nonce, db.nonce(), kNonceSize);
    EXPECT_EQ(db.encrypt(), DB_NO_PASSWORD);
    EXPECT_EQ(db.last_error(), kNoPassword);
    // Salt and nonce were drawn before the key was wanted; the data is untouched.
    EXPECT_NE(to_hex(old_salt, kSaltSize), to_hex(db.salt(), kSaltSize));
    EXPECT_NE(to_hex(old_nonce, kNonceSize), to_hex(db.nonce(), kNonceSize));
    EXPECT_TRUE(db.decrypted());
    EXPECT_EQ(db.plaintext(), "text");

    Database loaded;
    ASSERT_EQ(loaded.load(source_file("tests/db/golden/tree.gkv")), DB_OK) << loaded.last_error();
    const Bytes ciphertext = data_of(loaded);
    EXPECT_EQ(loaded.decrypt(), DB_NO_PASSWORD);
    EXPECT_EQ(loaded.last_error(), kNoPassword);
    EXPECT_BYTES_EQ(ciphertext, data_of(loaded));
    std::uint8_t key[kKeySize];
    EXPECT_EQ(loaded.derive_key(key), DB_NO_PASSWORD);
}

TEST(DatabaseCrypto, EmptyPasswordIsAGivenPassword)
{
    Database10 db;
    ASSERT_EQ(db.load(source_file("tests/db/golden/tree.gkv")), DB_OK) << db.last_error();
    set_password(db, "");
    EXPECT_EQ(db.decrypt(), DB_WRONG_PASSWORD);
    EXPECT_EQ(db.last_error(), kWrongPassword);

    // And an empty password can make and open a vault.
    TempDir dir;
    make_vault(dir.file("v.gkv"), "", "open sesame");
    Opened opened = open_vault(dir.file("v.gkv"), "");
    EXPECT_EQ(opened.decrypt_status, DB_OK);
    EXPECT_EQ(opened.plaintext, "open sesame");
}

TEST(DatabaseCrypto, KeystreamRepeatsEverySixteenBytes)
{
    // The counter block never advances: equal plaintext bytes 16 apart give
    // equal ciphertext bytes.
    std::string text;
    for (int i = 0; i < 40; ++i) text += static_cast<char>('a' + i % 16);
    Database10 db;
    set_password(db, "pw");
    set_plaintext(db, text);
    ASSERT_EQ(db.encrypt(), DB_OK);
    for (std::size_t i = 0; i + 16 < text.size(); ++i) EXPECT_EQ(db.data()[i], db.data()[i + 16]) << "byte " << i;
}

TEST(DatabaseCrypto, KeyAndMacStepsAgreeWithEncryption)
{
    Database10 db;
    set_password(db, "pw");
    set_plaintext(db, "some text");
    ASSERT_EQ(db.encrypt(), DB_OK);
    std::uint8_t key[kKeySize];
    ASSERT_EQ(db.derive_key(key), DB_OK);
    EXPECT_EQ(db.verify_mac(key), DB_OK);
    key[31] ^= 1;
    EXPECT_EQ(db.verify_mac(key), DB_WRONG_PASSWORD);
    EXPECT_EQ(db.last_error(), kWrongPassword);
    key[31] ^= 1;
    db.ctr_transform(key);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(db.data()), db.data_length()), "some text");
}

// The golden vaults were written by vault.py; the container must read them.
TEST(DatabaseGolden, ContainerOpensTheScriptsVaults)
{
    Opened tree = open_vault(source_file("tests/db/golden/tree.gkv"), kTreePassword);
    ASSERT_EQ(tree.load_status, DB_OK);
    ASSERT_EQ(tree.decrypt_status, DB_OK);
    EXPECT_EQ(to_hex(bytes_of(tree.plaintext)), to_hex(bytes_of(kTreePlaintext)));

    Opened empty = open_vault(source_file("tests/db/golden/empty.gkv"), "x");
    ASSERT_EQ(empty.load_status, DB_OK);
    EXPECT_EQ(empty.decrypt_status, DB_OK);
    EXPECT_EQ(empty.plaintext, "");
}

TEST(DatabaseGolden, ResavedGoldenVaultStillOpens)
{
    TempDir dir;
    Database10 db;
    set_password(db, kTreePassword);
    ASSERT_EQ(db.load(source_file("tests/db/golden/tree.gkv")), DB_OK);
    ASSERT_EQ(db.decrypt(), DB_OK);
    ASSERT_EQ(db.save(dir.file("copy.gkv")), DB_OK) << db.last_error();
    EXPECT_FALSE(db.decrypted());
    Bytes golden = read_bytes(source_file("tests/db/golden/tree.gkv"));
    Bytes copy = read_bytes(dir.file("copy.gkv"));
    ASSERT_EQ(copy.size(), golden.size());
    EXPECT_NE(to_hex(copy), to_hex(golden));  // fresh salt, nonce and MAC
    EXPECT_EQ(open_vault(dir.file("copy.gkv"), kTreePassword).plaintext, kTreePlaintext);
}

// Flipping one bit anywhere in a vault: the header fields are refused by the
// load, a changed salt, MAC, length or ciphertext by the MAC check; only a
// changed nonce passes, and then the plaintext comes out different.
TEST(DatabaseTamper, EveryByteOfTheVaultIsCovered)
{
    TempDir dir;
    const Bytes golden = read_bytes(source_file("tests/db/golden/tree.gkv"));
    ASSERT_EQ(golden.size(), format_v1::kHeaderSize + sizeof kTreePlaintext - 1);
    const std::string path = dir.file("tampered.gkv");
    for (std::size_t offset = 0; offset < golden.size(); ++offset) {
        for (std::uint8_t bit : {0x01, 0x80}) {
            SCOPED_TRACE("offset " + std::to_string(offset) + " bit " + std::to_string(bit));
            Bytes image = golden;
            image[offset] ^= bit;
            write_file(path, image);
            Opened opened = open_vault(path, kTreePassword);
            if (offset < 10) {
                EXPECT_EQ(opened.load_status, DB_BAD_FORMAT);
            } else if (offset < 13) {
                // '1' -> '0' or '.' -> '/' or '0' -> '1': a digit stays a digit
                // (another version); anything else is no vault at all.
                bool digit = image[offset] >= '0' && image[offset] <= '9';
                EXPECT_EQ(opened.load_status, offset != 11 && digit ? DB_BAD_VERSION : DB_BAD_FORMAT);
            } else if (offset < 45) {  // salt
                EXPECT_EQ(opened.load_status, DB_OK);
                EXPECT_EQ(opened.decrypt_status, DB_WRONG_PASSWORD);
            } else if (offset < 57) {  // nonce
                EXPECT_EQ(opened.load_status, DB_OK);
                EXPECT_EQ(opened.decrypt_status, DB_OK);
                EXPECT_EQ(opened.plaintext.size(), sizeof kTreePlaintext - 1);
                EXPECT_NE(to_hex(bytes_of(opened.plaintext)), to_hex(bytes_of(kTreePlaintext)));
            } else if (offset < 89) {  // MAC
                EXPECT_EQ(opened.load_status, DB_OK);
                EXPECT_EQ(opened.decrypt_status, DB_WRONG_PASSWORD);
            } else if (offset < 93) {  // length: beyond the file, or fewer bytes under the MAC
                std::uint32_t length = static_cast<std::uint32_t>(image[89]) << 24 |
                    static_cast<std::uint32_t>(image[90]) << 16 | static_cast<std::uint32_t>(image[91]) << 8 |
                    image[92];
                if (length > image.size() - format_v1::kHeaderSize) {
                    EXPECT_EQ(opened.load_status, DB_IO_ERROR);
                } else {
                    EXPECT_EQ(opened.load_status, DB_OK);
                    EXPECT_EQ(opened.decrypt_status, DB_WRONG_PASSWORD);
                }
            } else {  // ciphertext
                EXPECT_EQ(opened.load_status, DB_OK);
                EXPECT_EQ(opened.decrypt_status, DB_WRONG_PASSWORD);
            }
        }
    }
}

#ifndef _WIN32
// Runs vault.py; false when the interpreter or its `cryptography` package is missing.
bool python_available()
{
    return std::system("/usr/bin/python3 -c 'import cryptography' >/dev/null 2>&1") == 0;
}

// What the interop tests encrypt: a password beyond ASCII, and 1,000 bytes of every value.
constexpr char kInteropPassword[] = "p\xc3\xa4ss";

std::string interop_text()
{
    std::string text;
    for (int i = 0; i < 1000; ++i) text += static_cast<char>(i * 31 + 7);
    return text;
}

int run_vault_py(const std::string& arguments)
{
    std::string command = "/usr/bin/python3 '" + source_file("tests/db/vault.py") + "' " + arguments;
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DatabaseInterop, ScriptOpensTheContainersVaults)
{
    if (!python_available()) GTEST_SKIP() << "/usr/bin/python3 with `cryptography` is not installed";
    TempDir dir;
    const std::string password = kInteropPassword;
    const std::string text = interop_text();
    for (const std::string& plaintext : {std::string(), std::string("x"), text}) {
        SCOPED_TRACE(plaintext.size());
        make_vault(dir.file("c.gkv"), password, plaintext);
        const std::string out = dir.file("out.bin");
        ASSERT_EQ(run_vault_py("read " + to_hex(bytes_of(password)) + " '" + dir.file("c.gkv") + "' '" + out + "'"), 0);
        EXPECT_EQ(to_hex(read_bytes(out)), to_hex(bytes_of(plaintext)));
        // And the script tells a wrong password by the MAC too.
        EXPECT_EQ(run_vault_py("read 00 '" + dir.file("c.gkv") + "' '" + out + "' 2>/dev/null"), 9);
    }
}

TEST(DatabaseInterop, ContainerOpensFreshScriptVaults)
{
    if (!python_available()) GTEST_SKIP() << "/usr/bin/python3 with `cryptography` is not installed";
    TempDir dir;
    std::string text = "Root\r\n\tchild: value\r\n";
    for (int i = 0; i < 50; ++i) text += "\tline " + std::to_string(i) + "\r\n";
    write_file(dir.file("in.txt"), bytes_of(text));
    ASSERT_EQ(
        run_vault_py("write " + to_hex(bytes_of("pw")) + " '" + dir.file("in.txt") + "' '" + dir.file("s.gkv") + "'"),
        0);
    Opened opened = open_vault(dir.file("s.gkv"), "pw");
    ASSERT_EQ(opened.load_status, DB_OK);
    ASSERT_EQ(opened.decrypt_status, DB_OK);
    EXPECT_EQ(opened.plaintext, text);
}

// Format 2.0 with the standard tools: the script reads what the container wrote, the
// container reads what the script wrote, and each tells a wrong password.
TEST(DatabaseInterop, Format20BothWays)
{
    if (!python_available()) GTEST_SKIP() << "/usr/bin/python3 with `cryptography` is not installed";
    TempDir dir;
    const std::string password = kInteropPassword;
    const std::string text = interop_text();
    for (const std::string& plaintext : {std::string(), text}) {
        SCOPED_TRACE(plaintext.size());
        Database db;
        db.set_new_key_iterations(1000);
        set_password(db, password);
        set_plaintext(db, plaintext);
        ASSERT_EQ(db.save(dir.file("c.gkv")), DB_OK) << db.last_error();
        const std::string out = dir.file("out.bin");
        ASSERT_EQ(run_vault_py("read " + to_hex(bytes_of(password)) + " '" + dir.file("c.gkv") + "' '" + out + "'"), 0);
        EXPECT_EQ(to_hex(read_bytes(out)), to_hex(bytes_of(plaintext)));
        EXPECT_EQ(run_vault_py("read 00 '" + dir.file("c.gkv") + "' '" + out + "' 2>/dev/null"), 9);

        write_file(dir.file("in.bin"), bytes_of(plaintext));
        ASSERT_EQ(run_vault_py("write2 " + to_hex(bytes_of(password)) + " '" + dir.file("in.bin") + "' '" +
                               dir.file("s.gkv") + "' 1500"),
                  0);
        Opened opened = open_vault(dir.file("s.gkv"), password);
        ASSERT_EQ(opened.load_status, DB_OK);
        ASSERT_EQ(opened.decrypt_status, DB_OK);
        EXPECT_EQ(to_hex(bytes_of(opened.plaintext)), to_hex(bytes_of(plaintext)));
        EXPECT_EQ(open_vault(dir.file("s.gkv"), "pass").decrypt_status, DB_WRONG_PASSWORD);
    }
}
#else
TEST(DatabaseInterop, ScriptOpensTheContainersVaults)
{
    GTEST_SKIP() << "vault.py runs in the native build only";
}
#endif

// --- Format 2.0 ------------------------------------------------------------------------

std::uint32_t be32(const Bytes& image, std::size_t offset)
{
    return (std::uint32_t{image[offset]} << 24) | (std::uint32_t{image[offset + 1]} << 16) |
        (std::uint32_t{image[offset + 2]} << 8) | image[offset + 3];
}

// A fresh 2.0 vault under "pw" with a low iteration count (the sanitizer builds are slow).
Bytes save_format20(const std::string& path, const std::string& plaintext, std::uint32_t iterations = 1000)
{
    Database db;
    db.set_new_key_iterations(iterations);
    set_password(db, "pw");
    set_plaintext(db, plaintext);
    EXPECT_FALSE(db.legacy_format());
    EXPECT_EQ(db.save(path), DB_OK) << db.last_error();
    return read_bytes(path);
}

TEST(Format20, ANewContainerSaves20AndOpensIt)
{
    EXPECT_EQ(format_v2::kIterations, 600000u);  // what the program writes
    TempDir dir;
    const Bytes image = save_format20(dir.file("v.gkv"), "secret text");
    ASSERT_EQ(image.size(), format_v2::kHeaderSize + 11);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 13), "GLIMKEEPDB2.0");
    EXPECT_EQ(be32(image, 13), 1000u);
    EXPECT_EQ(be32(image, 93), 11u);
    Database db;
    set_password(db, "pw");
    ASSERT_EQ(db.load(dir.file("v.gkv")), DB_OK);
    EXPECT_FALSE(db.legacy_format());
    EXPECT_EQ(db.iterations(), 1000u);
    ASSERT_EQ(db.decrypt(), DB_OK);
    EXPECT_EQ(db.plaintext(), "secret text");
}

// Saves of one session keep salt and keys but never the nonce; a new password makes a
// new salt, and only the new password opens the file.
TEST(Format20, EverySaveHasAFreshNonceAndANewPasswordAFreshSalt)
{
    TempDir dir;
    const std::string path = dir.file("v.gkv");
    save_format20(path, "one");
    Database db;
    db.set_new_key_iterations(1000);
    set_password(db, "pw");
    ASSERT_EQ(db.load(path), DB_OK);
    ASSERT_EQ(db.decrypt(), DB_OK);
    const Bytes first = read_bytes(path);
    set_plaintext(db, "one");
    ASSERT_EQ(db.save(path), DB_OK);
    const Bytes second = read_bytes(path);
    EXPECT_EQ(to_hex(Bytes(first.begin() + 17, first.begin() + 49)),
              to_hex(Bytes(second.begin() + 17, second.begin() + 49)));  // salt kept
    EXPECT_NE(to_hex(Bytes(first.begin() + 49, first.begin() + 61)),
              to_hex(Bytes(second.begin() + 49, second.begin() + 61)));  // nonce fresh
    EXPECT_NE(to_hex(Bytes(first.begin() + 97, first.end())), to_hex(Bytes(second.begin() + 97, second.end())));

    db.set_new_key_iterations(1200);
    set_password(db, "new");
    set_plaintext(db, "two");
    ASSERT_EQ(db.save(path), DB_OK) << db.last_error();
    const Bytes third = read_bytes(path);
    EXPECT_NE(to_hex(Bytes(second.begin() + 17, second.begin() + 49)),
              to_hex(Bytes(third.begin() + 17, third.begin() + 49)));  // salt fresh
    EXPECT_EQ(be32(third, 13), 1200u);
    EXPECT_EQ(open_vault(path, "pw").decrypt_status, DB_WRONG_PASSWORD);
    EXPECT_EQ(open_vault(path, "new").plaintext, "two");

    // A vault of another count is saved with the program's count and a fresh salt.
    Database other;
    other.set_new_key_iterations(1500);
    set_password(other, "new");
    ASSERT_EQ(other.load(path), DB_OK);
    ASSERT_EQ(other.decrypt(), DB_OK);
    set_plaintext(other, "three");
    ASSERT_EQ(other.save(path), DB_OK);
    const Bytes fourth = read_bytes(path);
    EXPECT_EQ(be32(fourth, 13), 1500u);
    EXPECT_NE(to_hex(Bytes(third.begin() + 17, third.begin() + 49)),
              to_hex(Bytes(fourth.begin() + 17, fourth.begin() + 49)));
    EXPECT_EQ(open_vault(path, "new").plaintext, "three");
}

// One bit flipped in each byte: magic and version are refused by the load, an
// iteration count out of bounds too, a length beyond the file cannot be read, and
// every other change (count, salt, nonce, MAC, length, ciphertext) fails the MAC.
TEST(Format20, EveryFieldIsCoveredByTheMac)
{
    TempDir dir;
    const Bytes good = save_format20(dir.file("v.gkv"), "The quick brown fox");
    const std::string path = dir.file("t.gkv");
    for (std::size_t offset = 0; offset < good.size(); ++offset) {
        SCOPED_TRACE(offset);
        Bytes image = good;
        image[offset] ^= 0x01;
        write_file(path, image);
        int expected = DB_WRONG_PASSWORD;
        if (offset < 10 || offset == 11 || offset == 13)
            expected = DB_BAD_FORMAT;
        else if (offset == 10 || offset == 12)
            expected = DB_BAD_VERSION;
        else if (offset >= 93 && offset < 97 && be32(image, 93) > image.size() - format_v2::kHeaderSize)
            expected = DB_IO_ERROR;
        else if (offset >= 93 && offset < 97 && be32(image, 93) < image.size() - format_v2::kHeaderSize)
            expected = DB_BAD_FORMAT;  // bytes after the ciphertext
        Opened opened = open_vault(path, "pw");
        if (expected == DB_WRONG_PASSWORD) {
            EXPECT_EQ(opened.load_status, DB_OK);
            EXPECT_EQ(opened.decrypt_status, DB_WRONG_PASSWORD);
            EXPECT_EQ(opened.plaintext, "");
        } else {
            EXPECT_EQ(opened.load_status, expected);
        }
    }
}

// Bytes after the ciphertext would not be covered by the MAC: a 2.0 file with any is
// refused (1.0 keeps ignoring them, as its readers always did).
TEST(Format20, BytesAfterTheCiphertextAreRefused)
{
    TempDir dir;
    Bytes image = save_format20(dir.file("v.gkv"), "text");
    image.push_back(0);
    write_file(dir.file("t.gkv"), image);
    Database db;
    EXPECT_EQ(db.load(dir.file("t.gkv")), DB_BAD_FORMAT);
    EXPECT_EQ(db.last_error(), "File has extra bytes after the ciphertext (file corrupted?)");
    EXPECT_EQ(db.data(), nullptr);
    image.resize(image.size() - 2);
    write_file(dir.file("t.gkv"), image);
    EXPECT_EQ(db.load(dir.file("t.gkv")), DB_IO_ERROR);
    EXPECT_EQ(db.last_error(), "Cannot read ciphertext from file (file corrupted?)");
}

// A vault written with more iterations than the program's count keeps them (and its
// salt and keys) at the next save; one with fewer is raised to the program's count.
TEST(Format20, ASaveNeverLowersTheIterationCount)
{
    TempDir dir;
    const std::string path = dir.file("v.gkv");
    save_format20(path, "one", 2000);
    Database db;
    ASSERT_TRUE(open_vault_at(db, path, "pw"));  // the program's count: 1000 in the tests
    set_plaintext(db, "two");
    ASSERT_EQ(db.save(path), DB_OK);
    EXPECT_EQ(be32(read_bytes(path), 13), 2000u);
    set_password(db, "new");
    set_plaintext(db, "three");
    ASSERT_EQ(db.save(path), DB_OK);
    EXPECT_EQ(be32(read_bytes(path), 13), 2000u);
    EXPECT_EQ(open_vault(path, "new").plaintext, "three");
}

TEST(Format20, IterationCountsOutOfBoundsAreNotAVault)
{
    TempDir dir;
    const Bytes good = save_format20(dir.file("v.gkv"), "x");
    for (std::uint32_t count : {0u, 10000001u, 0xffffffffu, 1u, 10000000u}) {
        SCOPED_TRACE(count);
        Bytes image = good;
        for (int i = 0; i < 4; ++i) image[13 + i] = static_cast<std::uint8_t>(count >> (24 - 8 * i));
        write_file(dir.file("t.gkv"), image);
        Database db;
        const int status = db.load(dir.file("t.gkv"));
        if (count == 1u || count == 10000000u) {
            EXPECT_EQ(status, DB_OK);
            EXPECT_EQ(db.iterations(), count);
        } else {
            EXPECT_EQ(status, DB_BAD_FORMAT);
            EXPECT_EQ(db.last_error(), "This file is not database file for this program");
        }
    }
    // A 2.0 file shorter than its 97-byte header.
    write_file(dir.file("t.gkv"), Bytes(good.begin(), good.begin() + 96));
    Database db;
    EXPECT_EQ(db.load(dir.file("t.gkv")), DB_BAD_FORMAT);
    EXPECT_EQ(db.last_error(), "File has insufficient size (file corrupted?)");
}

// A 1.0 vault stays 1.0 until upgraded; the upgrade decrypts ciphertext held from 1.0
// and writes 2.0, and a 2.0 vault upgraded stays 2.0.
TEST(Format20, A10VaultStays10UntilUpgraded)
{
    TempDir dir;
    const std::string path = dir.file("v.gkv");
    make_vault(path, "pw", "old text");
    Database db;
    db.set_new_key_iterations(1000);
    set_password(db, "pw");
    ASSERT_EQ(db.load(path), DB_OK);
    EXPECT_TRUE(db.legacy_format());
    ASSERT_EQ(db.decrypt(), DB_OK);
    ASSERT_EQ(db.save(path), DB_OK);
    EXPECT_EQ(read_bytes(path).size(), format_v1::kHeaderSize + 8);
    EXPECT_EQ(read_bytes(path)[10], '1');

    ASSERT_EQ(db.upgrade(path), DB_OK) << db.last_error();  // from the ciphertext of the 1.0 save
    EXPECT_FALSE(db.legacy_format());
    const Bytes image = read_bytes(path);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 13), "GLIMKEEPDB2.0");
    EXPECT_EQ(open_vault(path, "pw").plaintext, "old text");
    ASSERT_EQ(db.upgrade(path, "new", 3), DB_OK) << db.last_error();
    EXPECT_FALSE(db.legacy_format());
    EXPECT_EQ(open_vault(path, "new").plaintext, "old text");
}

}  // namespace
