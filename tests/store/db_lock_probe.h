// Catches platform and interface calls made while db_lock is held: a recording platform
// and a UI sink that look at the lock on each call and count the calls made under it.
// For tests that run the store on one thread (any holder is then the caller).
#pragma once

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/db_pool.h"
#include "tests/support/temp_store.h"

namespace vandrel::testing {

// Asked from another thread: try_lock on a mutex the caller holds is undefined.
inline bool db_lock_taken() {
    std::mutex& lock = db_lock();
    return std::async(std::launch::async,
                      [&lock] {
                          if (!lock.try_lock()) return true;
                          lock.unlock();
                          return false;
                      })
        .get();
}

class lock_probe_platform : public recording_platform {
public:
    std::string download_target_for_file(const std::string& file_name) override {
        note();
        return recording_platform::download_target_for_file(file_name);
    }
    std::uint64_t get_file_size(const std::string& storage_path) override {
        note();
        return recording_platform::get_file_size(storage_path);
    }
    int calls() const { return calls_; }
    int calls_under_lock() const { return under_lock_; }

private:
    void note() {
        ++calls_;
        if (db_lock_taken()) ++under_lock_;
    }
    std::atomic<int> calls_{0};
    std::atomic<int> under_lock_{0};
};

// Installs the probing platform (answering as the store's own did) and a sink that
// still records into store.ui().
class db_lock_probe {
public:
    explicit db_lock_probe(temp_store& store)
        : platform_(std::make_shared<lock_probe_platform>()), counts_(std::make_shared<ui_counts>()) {
        platform_->set_data_folder(store.data_folder());
        platform_->set_local_folder(store.root() + "/tmp/");
        install_platform_services(platform_);
        set_ui_sink([counts = counts_, record = store.ui().sink()](const std::string& text) {
            ++counts->texts;
            if (db_lock_taken()) ++counts->under_lock;
            record(text);
        });
    }

    lock_probe_platform& platform() { return *platform_; }
    int ui_texts() const { return counts_->texts; }
    int ui_texts_under_lock() const { return counts_->under_lock; }

private:
    // Shared with the sink, which the store's platform links keep.
    struct ui_counts {
        std::atomic<int> texts{0};
        std::atomic<int> under_lock{0};
    };
    std::shared_ptr<lock_probe_platform> platform_;
    std::shared_ptr<ui_counts> counts_;
};

}  // namespace vandrel::testing
