#include "MeskRuntimeComponent/data_folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace vandrel {

namespace {

const char* const lock_file_name = "mesk.lock";

}  // namespace

data_folder_lock::data_folder_lock(const std::string& folder) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    path += lock_file_name;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // A folder that cannot be written may still hold the file; a shared descriptor locks too.
    if (fd_ < 0) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    int rc = 0;
    do {
        rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        result_ = outcome::held;
        return;
    }
    if (errno == EWOULDBLOCK) result_ = outcome::taken;
    ::close(fd_);
    fd_ = -1;
}

data_folder_lock::~data_folder_lock() {
    if (fd_ >= 0) ::close(fd_);
}

std::string data_folder_taken_message(const std::string& folder) { return "another mesk is already using " + folder; }

}  // namespace vandrel
