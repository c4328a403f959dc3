// Allowances by key, the key of an address, the throttle of password guessing and the log's budget.
#include <gtest/gtest.h>

#include <thread>

#include "Log.h"
#include "PasswordThrottle.h"
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

TEST(PasswordThrottle, AnOwnersGoodLoginClearsOnlyItsOwnFailuresAndChecksInFlightCount) {
    using T = PasswordThrottle;
    T throttle({/*addressFailures*/ 3, 60s, /*accountFailures*/ 4, 8s});
    const SteadyTime t0{};
    auto guess = [&](const std::string &address, SteadyTime at) {
        if (throttle.admit(address, "ann", at) != T::Admission::Check)
            return false;
        throttle.finish(address, "ann", T::Outcome::Wrong, at);
        return true;
    };
    // Guesses from several addresses, two from the owner's own.
    EXPECT_TRUE(guess("10.0.0.1", t0));
    EXPECT_TRUE(guess("10.0.0.2", t0));
    EXPECT_TRUE(guess("10.0.0.9", t0));
    EXPECT_TRUE(guess("10.0.0.9", t0));
    // Four failures: the next check waits 1 s, then 2 s, ...
    EXPECT_EQ(throttle.admit("10.0.0.3", "ann", t0), T::Admission::AccountSlowed);
    EXPECT_TRUE(guess("10.0.0.3", t0 + 1s));
    EXPECT_EQ(throttle.admit("10.0.0.4", "ann", t0 + 2s), T::Admission::AccountSlowed);
    // The owner, from 10.0.0.9, after the delay: right. Only 10.0.0.9's two failures go; the
    // three from elsewhere keep the account at the edge of being slowed.
    ASSERT_EQ(throttle.admit("10.0.0.9", "ann", t0 + 3s), T::Admission::Check);
    throttle.finish("10.0.0.9", "ann", T::Outcome::Right, t0 + 3s);
    EXPECT_TRUE(guess("10.0.0.5", t0 + 3s));
    EXPECT_EQ(throttle.admit("10.0.0.6", "ann", t0 + 3s), T::Admission::AccountSlowed);

    // Checks in flight count: with two admitted and unfinished, a third from the same address
    // would pass the limit of three and is refused before it is checked.
    T address({3, 60s, 1000, 8s});
    EXPECT_EQ(address.admit("10.1.0.1", "a", t0), T::Admission::Check);
    EXPECT_EQ(address.admit("10.1.0.1", "b", t0), T::Admission::Check);
    EXPECT_EQ(address.admit("10.1.0.1", "c", t0), T::Admission::Check);
    EXPECT_EQ(address.admit("10.1.0.1", "d", t0), T::Admission::AddressBlocked);
    // A right password does not lift what the wrong ones earned.
    address.finish("10.1.0.1", "a", T::Outcome::Right, t0);
    EXPECT_FALSE(address.finish("10.1.0.1", "b", T::Outcome::Wrong, t0));
    EXPECT_FALSE(address.finish("10.1.0.1", "c", T::Outcome::NotChecked, t0));
    // One wrong so far, and the two checks below in flight, make three.
    EXPECT_EQ(address.admit("10.1.0.1", "e", t0), T::Admission::Check);
    EXPECT_EQ(address.admit("10.1.0.1", "f", t0), T::Admission::Check);
    EXPECT_TRUE(address.finish("10.1.0.1", "e", T::Outcome::Wrong, t0)) << "now refused";
    EXPECT_FALSE(address.finish("10.1.0.1", "f", T::Outcome::Wrong, t0)) << "refused once";
    EXPECT_TRUE(address.blocked("10.1.0.1", t0 + 59s));
    EXPECT_FALSE(address.blocked("10.1.0.1", t0 + 61s));
}

TEST(LogBudget, AFloodOfLinesIsCutToTheBudgetAndTheNextLineCountsWhatWasLeftOut) {
    uint64_t skipped = 0;
    int admitted = 0;
    for (int i = 0; i < 1000; ++i)
        admitted += AdmitFloodableLine(skipped, 1.0) ? 1 : 0;
    EXPECT_GE(admitted, 10);  // the burst: ten seconds' worth
    EXPECT_LE(admitted, 11);
    std::this_thread::sleep_for(1100ms);
    ASSERT_TRUE(AdmitFloodableLine(skipped, 1.0));
    EXPECT_EQ(skipped, uint64_t(1000 - admitted));
}

}  // namespace
