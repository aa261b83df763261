#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <regex>
#include <thread>
#include <vector>

#include "common/log/rotating_log.h"
#include "tests/support/test_support.h"

namespace quietway {
namespace {

using testing::read_file;
using testing::ScopedEnv;
using testing::TempDir;

size_t count_lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

class RotatingLogTest : public ::testing::Test {
protected:
    RotatingLogTest() : env_(kLogDirEnv, dir_.str()) { log_.set_file_name("Test.log"); }

    std::string current() const { return read_file(dir_ / "Test.log"); }
    bool exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }

    TempDir dir_;
    ScopedEnv env_;
    RotatingLog log_;
};

TEST_F(RotatingLogTest, FirstMessageCreatesFileWithOneTimestampedLine) {
    EXPECT_NE(log_.log("service logged under account %s", "SYSTEM"), 0);
    const std::string text = current();
    const std::regex line(
        R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} \d{3} service logged under account SYSTEM\r\n)");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(RotatingLogTest, AcceptsTheWindowsFormatDialect) {
    const long long big = 1234567890123LL;
    log_.log("size %I64d count %d hex %X pct %% %s", big, -7, 0xBEEFu, "end");
    EXPECT_NE(current().find(" size 1234567890123 count -7 hex BEEF pct % end\r\n"),
              std::string::npos)
        << current();
}

TEST_F(RotatingLogTest, CallerLineBreakIsFollowedByEmptyLine) {
    log_.log("with break\n");
    EXPECT_NE(current().find("with break\n\r\n"), std::string::npos);
}

TEST_F(RotatingLogTest, OverlongMessageIsCutToTheBuffer) {
    const std::string huge(5000, 'x');
    EXPECT_NE(log_.log("%s", huge.c_str()), 0);
    const std::string text = current();
    const size_t first_x = text.find('x');
    ASSERT_NE(first_x, std::string::npos);
    EXPECT_EQ(text.size() - first_x, static_cast<size_t>(RotatingLog::kMessageCapacity - 1) + 2);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(RotatingLogTest, EmptyMessageWritesNothing) {
    EXPECT_EQ(log_.log("%s", ""), 0);
    EXPECT_EQ(current(), "");
}

TEST_F(RotatingLogTest, MissingDirectoryDropsMessagesQuietly) {
    ScopedEnv missing(kLogDirEnv, (dir_ / "absent").string());
    RotatingLog other;
    other.set_file_name("Test.log");
    EXPECT_EQ(other.log("lost"), 0);
    EXPECT_FALSE(exists("absent"));
}

TEST_F(RotatingLogTest, ThousandthMessageShiftsGenerations) {
    testing::write_file(dir_ / "Test_1.log", "old generation one\r\n");
    testing::write_file(dir_ / "Test_2.log", "old generation two\r\n");
    for (int i = 1; i <= 999; ++i) log_.log("message %d", i);
    EXPECT_TRUE(exists("Test.log"));
    EXPECT_EQ(read_file(dir_ / "Test_1.log"), "old generation one\r\n");

    log_.log("message %d", 1000);
    EXPECT_FALSE(exists("Test.log"));
    const std::string first = read_file(dir_ / "Test_1.log");
    EXPECT_EQ(count_lines(first), 1000u);
    EXPECT_NE(first.find(" message 1000\r\n"), std::string::npos);
    EXPECT_EQ(read_file(dir_ / "Test_2.log"), "old generation one\r\n");

    log_.log("message %d", 1001);
    EXPECT_EQ(count_lines(current()), 1u);
}

TEST_F(RotatingLogTest, RotationOffKeepsOneFile) {
    log_.set_rotation(false);
    for (int i = 0; i < 1000; ++i) log_.log("m");
    EXPECT_EQ(count_lines(current()), 1000u);
    EXPECT_FALSE(exists("Test_1.log"));
}

TEST_F(RotatingLogTest, ConcurrentWritersRotateExactlyOncePerThousand) {
    // 2500 messages mean two rotations; a third would delete a generation and lose lines.
    // A message may be refused while another thread renames the file (a locked file loses
    // its message), but every line that was reported written must still be there.
    constexpr int kThreads = 5;
    constexpr int kPerThread = 500;
    std::atomic<int> reported{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([this, t, &reported] {
            for (int i = 0; i < kPerThread; ++i) reported += log_.log("thread %d message %d", t, i);
        });
    }
    for (auto& w : writers) w.join();
    const size_t total = count_lines(current()) + count_lines(read_file(dir_ / "Test_1.log")) +
                         count_lines(read_file(dir_ / "Test_2.log"));
    EXPECT_EQ(total, static_cast<size_t>(reported.load()));
    EXPECT_GT(reported.load(), kThreads * kPerThread * 9 / 10);
}

#ifndef _WIN32
// Standard error moved to a file for the life of the object.
class StderrToFile {
public:
    explicit StderrToFile(const std::filesystem::path& path)
        : saved_(dup(STDERR_FILENO)), file_(open(path.c_str(), O_WRONLY | O_CREAT, 0600)) {
        dup2(file_, STDERR_FILENO);
    }
    ~StderrToFile() {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        close(file_);
    }
    std::string stream() const {
        struct stat info {};
        fstat(file_, &info);
        return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    }

private:
    int saved_;
    int file_;
};

// Under systemd JOURNAL_STREAM names the stream that standard error is; only then do the
// messages go there too, one line each, and always into the file.
TEST_F(RotatingLogTest, MessagesAlsoGoToStandardErrorWhenItIsTheJournal) {
    std::string stream;
    {
        const StderrToFile journal(dir_ / "journal");
        stream = journal.stream();
        for (const auto& [value, copied] : {std::pair{stream, true}, std::pair{stream + "1", false},
                                            std::pair{std::string("x"), false}}) {
            ScopedEnv env("JOURNAL_STREAM", value);
            EXPECT_EQ(log_.mirror_to_journal(), copied) << value;
            log_.log("to %s\r\n", value.c_str());
        }
    }
    EXPECT_EQ(read_file(dir_ / "journal"), "to " + stream + "\n");
    EXPECT_NE(current().find("to x\r\n"), std::string::npos) << current();
}
#endif

}  // namespace
}  // namespace quietway
