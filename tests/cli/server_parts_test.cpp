// The server's parts that stand between a hostile client and the instrument: reading a query,
// bounding JSON nesting, names shown to every page, and the queue of slow work.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "server/request_text.h"
#include "server/work_pool.h"

TEST(RequestText, QueryIsDecodedInOrderWithRepeatsAndOddPieces) {
    const auto pairs = parse_query("P=uart%3Arx%3DD0&P=spi&name=a+b%zz&flag&=x&&size=800x600");
    ASSERT_EQ(pairs.size(), 6u);
    EXPECT_EQ(pairs[0], std::make_pair(std::string("P"), std::string("uart:rx=D0")));
    EXPECT_EQ(pairs[1].second, "spi");
    EXPECT_EQ(pairs[2].second, "a b%zz");  // a broken escape stays as it was
    EXPECT_EQ(pairs[3], std::make_pair(std::string("flag"), std::string()));
    EXPECT_EQ(pairs[4], std::make_pair(std::string(), std::string("x")));
    EXPECT_EQ(pairs[5].second, "800x600");
}

TEST(RequestText, JsonNestingIsBoundedWithoutCountingStrings) {
    const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_TRUE(json_nesting_within(nested(MAX_JSON_DEPTH), MAX_JSON_DEPTH));
    EXPECT_FALSE(json_nesting_within(nested(MAX_JSON_DEPTH + 1), MAX_JSON_DEPTH));
    EXPECT_FALSE(json_nesting_within(std::string(100000, '{'), MAX_JSON_DEPTH));
    // Brackets in strings, escaped quotes among them, are text.
    EXPECT_TRUE(json_nesting_within("{\"a\": \"[[[[[[[[[[[[[[[[[[[[\\\"{{{{{{{{{{{{{{{{{{{{\"}", 2));
    // Closing more than was opened never lowers the bound for what follows.
    EXPECT_FALSE(json_nesting_within("]]]][[[", 2));
}

TEST(RequestText, NamesAreValidPrintableAndCutBetweenCharacters) {
    EXPECT_EQ(printable_name("scope\x1b[31m\n.dso"), "scope?[31m?.dso");
    EXPECT_EQ(printable_name("a\xff" "b\xc3"), "a\xef\xbf\xbd" "b\xef\xbf\xbd");      // not UTF-8
    // An overlong '/' and a surrogate: each of their bytes becomes U+FFFD.
    const std::string replacement = "\xef\xbf\xbd";
    EXPECT_EQ(printable_name("\xc0\xaf\xed\xa0\x80"), replacement + replacement + replacement + replacement + replacement);
    std::string long_name;
    for (int i = 0; i < 1000; ++i) long_name += "\xc3\xa9";  // é
    const std::string cut = printable_name("x" + long_name);
    EXPECT_EQ(cut.size(), 255u);  // x and 127 whole é
    EXPECT_EQ(cut, printable_name(cut));
    EXPECT_EQ(printable_name("caf\xc3\xa9 \xe2\x82\xac"), "caf\xc3\xa9 \xe2\x82\xac");
}

TEST(RequestText, TokensAndHosts) {
    EXPECT_TRUE(url_safe("abc-DEF_0.9~x"));
    EXPECT_FALSE(url_safe("abc def"));
    EXPECT_FALSE(url_safe("abc;def"));
    EXPECT_FALSE(url_safe("abc\r"));
    EXPECT_EQ(host_part("Bench.Local:8080"), "bench.local");
    EXPECT_EQ(host_part("[::1]:8080"), "[::1]");
    EXPECT_TRUE(same_text("0123456789abcdef", "0123456789abcdef"));
    EXPECT_FALSE(same_text("0123456789abcdef", "0123456789abcdeF"));
    EXPECT_FALSE(same_text("0123456789abcdef", "0123456789abcde"));
}

TEST(WorkPool, RefusesPastItsBoundAndDropsJobsWhoseClientLeft) {
    work_pool pool(1, 2);
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false, busy = false;
    std::atomic<int> ran{0};
    ASSERT_TRUE(pool.submit({[&] {
                                 std::unique_lock<std::mutex> lock(mutex);
                                 busy = true;
                                 changed.notify_all();
                                 changed.wait(lock, [&] { return release; });
                             },
                             nullptr}));
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return busy; });
    }
    auto gone = std::make_shared<std::atomic<bool>>(false);
    EXPECT_TRUE(pool.submit({[&] { ran += 10; }, gone}));
    EXPECT_TRUE(pool.submit({[&] { ran += 1; }, nullptr}));
    EXPECT_FALSE(pool.submit({[&] { ran += 100; }, nullptr}));  // two wait already
    EXPECT_EQ(pool.waiting(), 2u);
    gone->store(true);
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    while (pool.waiting() > 0) std::this_thread::yield();
    pool.stop();
    EXPECT_EQ(ran.load(), 1);
}
