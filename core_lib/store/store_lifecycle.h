// Closing the store: every pooled connection is closed and every value cached from the
// database is forgotten, so the next store call opens the database of the data folder
// as it is then. store_guard does it when it goes out of scope.
#pragma once

namespace vandrel {

// Must not be called while holding db_lock or settings_mutex.
void store_shutdown();

class store_guard {
public:
    store_guard() = default;
    ~store_guard() { store_shutdown(); }
    store_guard(const store_guard&) = delete;
    store_guard& operator=(const store_guard&) = delete;
};

}  // namespace vandrel
