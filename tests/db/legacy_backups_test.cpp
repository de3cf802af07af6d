// The 1.0 backups that an upgraded vault leaves behind: found by name and header,
// checked against a password, erased.
#include "db/legacy_backups.h"

#include "tests/support/files.h"
#include "tests/support/vaults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

TEST(LegacyBackups, FoundByNameAndHeaderCheckedAndErased)
{
    // The vault in the working directory, as the program names it.
    TempWorkingDir folder;
    const std::string vault = kDatabaseFileName;
    ASSERT_TRUE(write_vault("text", "new"));
    const std::string image2 = read_file(vault);
    make_vault("1.0 old", "old", "text");
    make_vault("1.0 new", "new", "text");
    const std::string old10 = read_file("1.0 old");
    const std::string new10 = read_file("1.0 new");
    const std::string short10 = "GLIMKEEPDB1.";
    struct Case {
        const char* name;
        const std::string* image;
        bool listed;
    };
    const Case cases[] = {
        {"passwords.gkv.1796752497.bak", &old10, true},
        {"passwords.gkv.-5_02.bak", &old10, true},
        {"passwords.gkv.1796752497_123.bak", &old10, true},
        {"passwords.gkv.1796752498.bak", &image2, false},  // format 2.0
        {"passwords.gkv.12a.bak", &old10, false},
        {"passwords.gkv.12_3.bak", &old10, false},
        {"passwords.gkv..bak", &old10, false},
        {"passwords.gkv.12.bak.txt", &old10, false},
        {"other.gkv.12.bak", &old10, false},
        {"passwords.gkv.13.bak", &short10, false},  // too short for a header
    };
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        write_file(c.name, *c.image);
        if (c.listed) expected.push_back(c.name);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(legacy_backups(vault), expected);

    EXPECT_FALSE(any_opens_with(expected, "new", 3));
    EXPECT_TRUE(any_opens_with(expected, "old", 3));
    write_file("passwords.gkv.1796752499.bak", new10);
    const std::vector<std::string> with_new = legacy_backups(vault);
    EXPECT_TRUE(any_opens_with(with_new, "new", 3)) << "a 1.0 copy under the current password";

    std::size_t still_readable = 99;
    EXPECT_EQ(erase_legacy_backups(with_new, vault, still_readable), 0u);
    EXPECT_EQ(still_readable, 0u);
    EXPECT_TRUE(legacy_backups(vault).empty());
    EXPECT_EQ(read_file(vault), image2) << "the vault itself stays";
    EXPECT_EQ(read_file("passwords.gkv.1796752498.bak"), image2) << "2.0 backups stay";

    EXPECT_EQ(legacy_backups_question(2, false),
              "2 backups of format 1.0 can be read without the password. Delete them?");
}

TEST(LegacyBackups, AHardLinkOfTheVaultNamedLikeABackupIsOnlyUnlinked)
{
    TempWorkingDir folder;
    const std::string vault = kDatabaseFileName;
    make_vault(vault, "pw", "text");
    const std::string image = read_file(vault);
    std::error_code error;
    std::filesystem::create_hard_link(vault, "passwords.gkv.1796752497.bak", error);
    if (error) GTEST_SKIP() << "hard links cannot be made here: " << error.message();
    make_vault("passwords.gkv.1796752498.bak", "pw", "older");
    const std::vector<std::string> found = legacy_backups(vault);
    ASSERT_EQ(found.size(), 2u);
    std::size_t still_readable = 0;
    EXPECT_EQ(erase_legacy_backups(found, vault, still_readable), 0u);
    EXPECT_EQ(still_readable, 1u) << "the link, not the backup of its own";
    EXPECT_TRUE(legacy_backups(vault).empty());
    EXPECT_EQ(read_file(vault), image);
    EXPECT_EQ(plaintext_of(vault, "pw"), "text");
}
