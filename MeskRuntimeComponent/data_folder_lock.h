// One process per data folder: an exclusive flock on "mesk.lock" in the folder, held
// while the object lives (and let go by the system when the process dies, so a crash
// leaves nothing in the way). The descriptor is not inherited by programs this process
// starts, so none of them keeps the folder after it.
#pragma once

#include <string>

namespace vandrel {

class data_folder_lock {
public:
    enum class outcome {
        held,     // this process holds the folder
        taken,    // another process holds it
        unlocked  // no lock file can be opened (a folder that cannot be written): nothing held
    };

    explicit data_folder_lock(const std::string& folder);
    ~data_folder_lock();
    data_folder_lock(const data_folder_lock&) = delete;
    data_folder_lock& operator=(const data_folder_lock&) = delete;

    outcome result() const { return result_; }

private:
    int fd_ = -1;
    outcome result_ = outcome::unlocked;
};

// The line said when another process holds the folder.
std::string data_folder_taken_message(const std::string& folder);

}  // namespace vandrel
