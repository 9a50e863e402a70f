// A fresh store per test: a temporary folder with its own data folder, and the platform
// links (a recording platform and UI sink) and the store of a core bound for the
// test's lifetime, so that every test opens its own "app.db". Also raw SQL helpers to
// look at the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core_lib/platform/platform_state.h"
#include "core_lib/store/store_state.h"
#include "tests/support/recording_platform.h"

namespace vandrel::testing {

class temp_store {
public:
    temp_store();
    ~temp_store();
    temp_store(const temp_store&) = delete;
    temp_store& operator=(const temp_store&) = delete;

    recording_platform& platform() { return *platform_; }
    recording_ui_sink& ui() { return ui_; }

    const std::string& root() const { return root_; }
    // Ends in "/".
    const std::string& data_folder() const { return data_folder_; }
    std::string database_file() const { return data_folder_ + "app.db"; }

    // Closes the store as a process exit would; the next store call opens it again.
    void restart();

    // SQL on a pooled connection under db_lock.
    void exec(const std::string& sql);
    std::vector<std::vector<std::string>> rows(const std::string& sql);
    std::string text(const std::string& sql);     // first column of the first row, "" if none
    std::int64_t number(const std::string& sql);  // the same as a number, 0 if none
    // Column names of a table, in order.
    std::vector<std::string> columns(const std::string& table);

private:
    std::string root_;
    std::string data_folder_;
    std::shared_ptr<recording_platform> platform_;
    recording_ui_sink ui_;
    platform_state platform_state_;
    current_platform::binding platform_binding_{platform_state_};
    store_state store_state_;
    current_store::binding store_binding_{store_state_};
};

// gtest fixture owning a temp_store.
class StoreTest : public ::testing::Test {
protected:
    temp_store store;
};

}  // namespace vandrel::testing
