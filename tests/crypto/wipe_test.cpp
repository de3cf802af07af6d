#include "crypto/wipe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

TEST(SecureWipe, ZeroesExactlyTheGivenRange)
{
    std::uint8_t buffer[48];
    std::memset(buffer, 0xA5, sizeof buffer);
    secure_wipe(buffer + 8, 32);
    for (std::size_t i = 0; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], (i >= 8 && i < 40) ? 0x00 : 0xA5) << "byte " << i;
}

TEST(SecureWipe, AcceptsAnEmptyRange)
{
    secure_wipe(nullptr, 0);
    std::uint8_t one = 7;
    secure_wipe(&one, 0);
    EXPECT_EQ(one, 7);
}

TEST(SecureWipe, WipeOnExitRunsOnEveryReturnPath)
{
    std::uint8_t key[32];
    auto use = [&](bool early) {
        std::memset(key, 0x5C, sizeof key);
        WipeOnExit wipe_key(key, sizeof key);
        if (early) return 1;
        key[0] ^= 1;
        return 0;
    };
    for (bool early : {true, false}) {
        use(early);
        for (std::uint8_t byte : key) ASSERT_EQ(byte, 0) << "early return: " << early;
    }
}

// Nothing of a secret stays in the memory a SecretString keeps: not in a moved-from
// string (a short one lives in the object itself), not past a truncation.
TEST(SecretString, MovingAndTruncatingLeaveNoCharactersBehind)
{
    const auto all_zero = [](const char* data, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            if (data[i] != '\0') return false;
        return true;
    };
    std::string plain = "hunter2";
    SecretString adopted(std::move(plain));
    EXPECT_EQ(adopted.str(), "hunter2");
    EXPECT_TRUE(all_zero(plain.data(), 0, plain.capacity()));

    SecretString moved(std::move(adopted));
    EXPECT_EQ(moved.str(), "hunter2");
    EXPECT_TRUE(adopted.empty());
    EXPECT_TRUE(all_zero(adopted.data(), 0, adopted.str().capacity()));

    SecretString text("secret words", 12);
    text.truncate(6);
    EXPECT_EQ(text.str(), "secret");
    EXPECT_TRUE(all_zero(text.data(), 6, 12));
    for (int i = 0; i < 100; ++i) text.append("x", 1);
    EXPECT_EQ(text.str(), "secret" + std::string(100, 'x'));
}
