#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/test_support.h"

namespace quietway::testing {

// A settings store of one test's own, without SOFTWARE\Quietway2 at the start and at the end:
// on Linux a tree in a fresh directory, on Windows the registry of the build's Wine prefix.
class TempStore {
public:
    TempStore() : env_(kRegistryEnv, dir_.str()) { delete_reg_tree(kStoreRoot); }
    ~TempStore() { delete_reg_tree(kStoreRoot); }
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    // Where the Linux tree lives.
    const std::filesystem::path& root() const { return dir_.path(); }

private:
    TempDir dir_;
    ScopedEnv env_;
};

// Base for tests that work on the store.
class StoreTest : public ::testing::Test {
protected:
    TempStore store_;
};

// Writes a value's raw type and bytes with the platform's own means, bypassing the store code,
// creating the key when missing.
bool put_raw_value(const std::string& path, const std::string& name, uint32_t type,
                   const std::string& data);

}  // namespace quietway::testing
