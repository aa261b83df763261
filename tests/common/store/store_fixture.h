#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/test_support.h"

namespace quietway::testing {

// Every test starts and ends without SOFTWARE\Quietway2: on Linux in a tree of its own, on
// Windows in the registry of the build's Wine prefix.
class StoreTest : public ::testing::Test {
protected:
    StoreTest() : registry_env_(kRegistryEnv, registry_dir_.str()) { delete_reg_tree(kStoreRoot); }
    ~StoreTest() override { delete_reg_tree(kStoreRoot); }

    TempDir registry_dir_;
    ScopedEnv registry_env_;
};

// Writes a value's raw type and bytes with the platform's own means, bypassing the store code,
// creating the key when missing.
bool put_raw_value(const std::string& path, const std::string& name, uint32_t type,
                   const std::string& data);

}  // namespace quietway::testing
