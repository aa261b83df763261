#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/concurrency_check.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

struct Slot {
    const char* path;
    const char* name;
};

constexpr Slot kSlots[] = {
    {"SOFTWARE\\Quietway2\\general", "password"},
    {"SOFTWARE\\Quietway2\\general", "user"},
    {"SOFTWARE\\Quietway2\\app", "a"},
    {"SOFTWARE\\Quietway2\\app", "b"},
    {"SOFTWARE\\Quietway2\\servers\\1", "name"},
};

// Four writers replace the same values without pause and are killed with SIGKILL at random
// moments, round after round: afterwards every value reads whole as one of the written texts,
// nothing is missing, and the password stays private.
TEST(StoreCrashTest, WritersKilledAtRandomLeaveEveryValueOldOrNew) {
    constexpr int kWriters = 4;
    constexpr int kRounds = 12;
    testing::TempStore store;
    // Distinct lengths and fillers, within a string value's limit; the last one is the old value.
    std::vector<std::string> texts;
    for (int i = 0; i <= kWriters; ++i)
        texts.emplace_back(static_cast<size_t>(30 + 97 * i), static_cast<char>('a' + i));
    for (const Slot& slot : kSlots)
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, slot.path, slot.name, texts.back()));

    // Completed writes per writer, shared with the children.
    auto* done = static_cast<std::atomic<long>*>(
        ::mmap(nullptr, sizeof(std::atomic<long>) * kWriters, PROT_READ | PROT_WRITE,
               MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(done, MAP_FAILED);
    std::mt19937 random(20261209);
    long total = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<pid_t> writers;
        for (int w = 0; w < kWriters; ++w) {
            new (&done[w]) std::atomic<long>(0);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                for (size_t i = static_cast<size_t>(w);; ++i) {
                    const Slot& slot = kSlots[i % std::size(kSlots)];
                    if (write_reg_string(slot.path, slot.name, texts[static_cast<size_t>(w)]))
                        done[w].fetch_add(1);
                }
            }
            writers.push_back(child);
        }
        // Killed after a random number of writes and a random moment more, mid-write or not.
        const long writes = std::uniform_int_distribution<long>(20, 150)(random);
        for (int w = 0; w < kWriters; ++w) {
            while (done[w].load() < writes) ::usleep(100);
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 3000)(random));
        for (const pid_t child : writers) ::kill(child, SIGKILL);
        for (const pid_t child : writers) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        }
        for (int w = 0; w < kWriters; ++w) total += done[w].load();

        for (const Slot& slot : kSlots) {
            std::string text;
            ASSERT_TRUE(read_reg_string(slot.path, slot.name, text))
                << slot.name << " round " << round;
            EXPECT_TRUE(testing::is_one_of(text, texts)) << slot.name << " torn in round " << round;
        }
        std::vector<StoreValue> values;
        ASSERT_TRUE(list_reg_values("SOFTWARE\\Quietway2\\general", values));
        EXPECT_EQ(values.size(), 2u) << "leftovers listed as values";
        struct stat info {};
        ASSERT_EQ(::stat((store.root() / "SOFTWARE/Quietway2/general/@password").c_str(), &info),
                  0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    ::munmap(done, sizeof(std::atomic<long>) * kWriters);
    EXPECT_GE(total, kRounds * kWriters * 20L);
}

}  // namespace
}  // namespace quietway
