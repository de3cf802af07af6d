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
