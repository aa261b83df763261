#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/crash/crash_reporter.h"
#include "common/process/run_program.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/common/crash/collector_server.h"
#include "tests/common/crash/crash_expectations.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

using testing::CollectorServer;
using testing::CrashKind;
using testing::ReceivedForm;
using testing::ScopedEnv;
using testing::TempDir;

constexpr const char* kAppKey = "SOFTWARE\\Quietway2\\app";

// Each test crashes the victim with its own settings tree and temporary directory (TMPDIR on
// Linux, TMP and TEMP on Windows).
class CrashReportTest : public ::testing::Test {
protected:
    CrashReportTest()
        : tmpdir_env_("TMPDIR", dumps_.str()),
          tmp_env_("TMP", dumps_.str()),
          temp_env_("TEMP", dumps_.str()) {}

    void use_collector(int port) {
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, kAppKey, kCrashReportUrlValue,
                                      "127.0.0.1:" + std::to_string(port)));
    }

    RunResult crash(const char* product, const std::string& how) {
        const std::string victim =
            std::filesystem::absolute(QUIETWAY_CRASH_VICTIM).make_preferred().string();
        return run_program({victim, product, how}, {.time_limit_ms = 120000});
    }

    std::vector<std::filesystem::path> dumps() const {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(dumps_.path())) {
            if (entry.path().extension() == ".dmp") found.push_back(entry.path());
        }
        return found;
    }

    // One crash of `kind`: the process ends as the crash ends it, one dump stays behind and
    // the collector receives it with the product's form values.
    void expect_reported_crash(const char* product, CrashKind kind, const std::string& how) {
        CollectorServer collector;
        ASSERT_TRUE(collector.running());
        use_collector(collector.port());

        const RunResult result = crash(product, how);
        ASSERT_TRUE(result.started);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_code, testing::exit_code_after(kind));

        const auto files = dumps();
        ASSERT_EQ(files.size(), 1u);
        const std::string dump = testing::read_file(files[0]);
        testing::expect_dump_describes(dump, kind, product);

        // The crashed process waited for the upload, so the form is already here.
        const std::vector<ReceivedForm> forms = collector.forms();
        ASSERT_EQ(forms.size(), 1u);
        const ReceivedForm& form = forms[0];
        EXPECT_EQ(form.method, "POST");
        EXPECT_EQ(form.uri, "/post");
        EXPECT_EQ(form.content_type.rfind("multipart/form-data; boundary=", 0), 0u)
            << form.content_type;
        EXPECT_EQ(form.fields.size(), 2u);
        EXPECT_EQ(form.fields.count("prod") ? form.fields.at("prod") : "", product);
        EXPECT_EQ(form.fields.count("ver") ? form.fields.at("ver") : "", "337.9efd447");
        EXPECT_EQ(form.file_part, "upload_file_minidump");
        EXPECT_EQ(form.file_name, files[0].filename().string());
        EXPECT_EQ(form.file_data.size(), dump.size());
        EXPECT_TRUE(form.file_data == dump);
    }

    testing::TempStore store_;
    TempDir dumps_;
    ScopedEnv tmpdir_env_;
    ScopedEnv tmp_env_;
    ScopedEnv temp_env_;
};

TEST_F(CrashReportTest, ServiceCrashLeavesADumpAndPostsItWithAllThreeParts) {
    expect_reported_crash(kServiceCrashProduct, CrashKind::null_write, "null-write");
}

TEST_F(CrashReportTest, UpdaterSendsItsOwnProductName) {
    expect_reported_crash(kUpdaterCrashProduct, CrashKind::abort, "abort");
}

TEST_F(CrashReportTest, CrashOnAnotherThreadIsReported) {
    expect_reported_crash(kServiceCrashProduct, CrashKind::null_write, "thread-null-write");
}

TEST_F(CrashReportTest, StackOverflowIsReported) {
    expect_reported_crash(kServiceCrashProduct, CrashKind::stack_overflow, "stack-overflow");
}

// Windows reports it through the C runtime's invalid-parameter handler, Linux as a fault.
TEST_F(CrashReportTest, InvalidRuntimeCallIsReported) {
    expect_reported_crash(kServiceCrashProduct, CrashKind::invalid_parameter, "invalid-parameter");
}

TEST_F(CrashReportTest, UnreachableCollectorStillLeavesTheDumpAndEndsTheProcess) {
    int closed_port = 0;
    {
        CollectorServer gone;
        ASSERT_TRUE(gone.running());
        closed_port = gone.port();
    }
    use_collector(closed_port);
    const RunResult result = crash(kServiceCrashProduct, "null-write");
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, testing::exit_code_after(CrashKind::null_write));
    EXPECT_EQ(dumps().size(), 1u);
}

}  // namespace
}  // namespace quietway
