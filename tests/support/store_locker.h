// Another program holding a test store's database (the mesk_db_locker program): the
// store is closed first, as at a process start, so that its next call finds the file
// locked and fails. Suites that use it get MESK_DB_LOCKER_BINARY from the build.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_store.h"

namespace vandrel::testing {

class store_locker {
public:
    explicit store_locker(temp_store& store) {
        store.restart();
        locker_ = std::make_unique<ChildProcess>(std::vector<std::string>{MESK_DB_LOCKER_BINARY, store.database_file()},
                                                 environment_with({}));
        locked_ = locker_->wait_for_line("locked", std::chrono::seconds(10)).has_value();
    }
    ~store_locker() { release(); }
    store_locker(const store_locker&) = delete;
    store_locker& operator=(const store_locker&) = delete;

    bool locked() const { return locked_; }

    // Lets go of the file; true once the program ended.
    bool release() {
        if (!locker_) return true;
        locker_->close_input();
        const bool ended = locker_->wait_exit(std::chrono::seconds(10)).has_value();
        locker_.reset();
        return ended;
    }

private:
    std::unique_ptr<ChildProcess> locker_;
    bool locked_ = false;
};

}  // namespace vandrel::testing
