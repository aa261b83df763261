#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/store/store.h"
#include "tests/support/concurrency_check.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

constexpr const char* kApp = "SOFTWARE\\Quietway2\\app";

class StoreConcurrencyTest : public testing::StoreTest {};

// Writers replace one value while this thread reads it: every read gives one whole written
// value. Writer processes are the reg tool's test (ConcurrentSetProcessesNeverLeaveAPartialValue).
TEST_F(StoreConcurrencyTest, ReadersSeeWholeValuesWhileThreadsWrite) {
    constexpr int kWriters = 4;
    constexpr int kWritesEach = 300;
    const std::vector<std::string> texts = testing::writer_texts(kWriters);
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "shared", texts[0]));

    std::atomic<int> running{kWriters};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kWritesEach; ++i)
                write_reg_string(kApp, "shared", texts[static_cast<size_t>(w)]);
            --running;
        });
    }
    testing::ReadTally tally;
    do tally.read(kApp, "shared", texts);
    while (running > 0);
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(tally.failed, 0) << "of " << tally.reads << " reads";
    EXPECT_EQ(tally.torn, 0) << "of " << tally.reads << " reads";
}

}  // namespace
}  // namespace quietway
