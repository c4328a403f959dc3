// Allowances by key, and the key of an address.
#include <gtest/gtest.h>

#include "RateLimit.h"

namespace {

using namespace std::chrono_literals;

TEST(AddressKey, IPv6HostsOfOneSlash64ShareAKeyAndMappedIPv4IsPlainIPv4) {
    EXPECT_EQ(AddressKey("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(AddressKey("::ffff:192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(AddressKey("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64");
    EXPECT_EQ(AddressKey("2001:db8:1:2:ffff:ffff:ffff:ffff"), AddressKey("2001:db8:1:2::"));
    EXPECT_NE(AddressKey("2001:db8:1:3::1"), AddressKey("2001:db8:1:2::1"));
    EXPECT_EQ(AddressKey("not an address"), "not an address");
}

TEST(KeyedRateLimit, EachKeyHasItsOwnAllowanceAndForgettingKeysNeverRefillsABusyOne) {
    KeyedRateLimit limit(2, 1.0, 3);
    const SteadyTime t0{};
    EXPECT_TRUE(limit.take("a", t0));
    EXPECT_TRUE(limit.take("a", t0));
    EXPECT_FALSE(limit.take("a", t0));
    EXPECT_TRUE(limit.take("b", t0));
    EXPECT_TRUE(limit.take("a", t0 + 1s));  // refilled at one per second
    EXPECT_FALSE(limit.take("a", t0 + 1s));

    // A full table forgets keys idle long enough to be full again, and only those: "a", spent
    // 1.5 s ago, keeps its state, so it has 1.5 tokens and not a fresh burst of 2.
    KeyedRateLimit small(2, 1.0, 2);
    EXPECT_TRUE(small.take("b", t0));
    EXPECT_TRUE(small.take("a", t0 + 1s));
    EXPECT_TRUE(small.take("a", t0 + 1s));
    EXPECT_TRUE(small.take("c", t0 + 2500ms));  // the table was full: b goes
    EXPECT_TRUE(small.take("a", t0 + 2500ms));
    EXPECT_FALSE(small.take("a", t0 + 2500ms));
}

}  // namespace
