#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/log/rotating_log.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/log_capture.h"
#include "tests/support/store_fixture.h"
#include "tests/updater/vendor/vendor_server.h"

namespace quietway::testing {

// A store with its app and general sections, the updater's log, and the vendor's web server
// serving the files the test publishes.
class SyncTest : public StoreTest {
protected:
    SyncTest() : log_(kUpdaterLogFile), server_(site_.path()) {
        install_reg_key((std::string(kStoreRoot) + "\\app").c_str());
        install_reg_key((std::string(kStoreRoot) + "\\general").c_str());
    }
    void SetUp() override { ASSERT_TRUE(server_.started()); }

    // Serves `text` as `name` and points the store value `setting` at it (below `prefix`).
    void publish(const std::string& name, const std::string& text, const char* setting,
                 const std::string& prefix = "") {
        write_file(site_ / name, text);
        ASSERT_TRUE(set_setting_string("app", setting, server_.url(prefix + "/" + name)));
    }
    uint32_t dword(const char* path, const char* name) {
        uint32_t value = 0xFFFFFFFF;
        read_reg_dword(path, name, value);
        return value;
    }

    TempDir site_;
    LogCapture log_;
    VendorServer server_;
};

}  // namespace quietway::testing
