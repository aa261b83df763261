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

using testing::is_one_of;
using testing::writer_texts;

constexpr const char* kApp = "SOFTWARE\\Quietway2\\app";
constexpr int kWriters = 4;
constexpr int kWritesEach = 300;

class StoreConcurrencyTest : public testing::StoreTest {};

TEST_F(StoreConcurrencyTest, ReadersSeeWholeValuesWhileThreadsWrite) {
    const std::vector<std::string> texts = writer_texts(kWriters);
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "shared", texts[0]));
    ASSERT_TRUE(create_reg_dword(kApp, "counter", 0));

    std::atomic<int> running{kWriters};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kWritesEach; ++i) {
                write_reg_string(kApp, "shared", texts[static_cast<size_t>(w)]);
                write_reg_dword(kApp, "counter", static_cast<uint32_t>(w * 0x01010101));
            }
            --running;
        });
    }
    int reads = 0, failed = 0, torn = 0;
    do {
        std::string text;
        uint32_t number = 0xDEADBEEF;
        ++reads;
        if (!read_reg_string(kApp, "shared", text) || !read_reg_dword(kApp, "counter", number)) {
            ++failed;
            continue;
        }
        if (!is_one_of(text, texts) || number % 0x01010101 != 0 || number / 0x01010101 >= kWriters)
            ++torn;
    } while (running > 0);
    for (std::thread& writer : writers) writer.join();

    EXPECT_EQ(failed, 0) << "of " << reads << " reads";
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 0);
}

}  // namespace
}  // namespace quietway
