#include "core_lib/net/transfer/input_stream.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/platform_services.h"

namespace vandrel {

namespace {

const std::string package_prefix = "ms-appx:///";

// The file on disk a path names, asked of the platform; "" for none.
std::string located(const std::string& path) {
    try {
        return is_package_path(path) ? get_package_file(path) : find_file_in_folder(path);
    } catch (const std::exception&) {
        return "";
    }
}

}  // namespace

bool is_package_path(const std::string& path) {
    return path.size() >= package_prefix.size() && starts_with(path, package_prefix);
}

winrt_file_input::~winrt_file_input() { close(); }

void winrt_file_input::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool winrt_file_input::open(const std::string& path) {
    close();
    local_path_ = located(path);
    return !local_path_.empty();
}

bool winrt_file_input::open_thumbnail(const std::string& path) {
    close();
    local_path_.clear();
    const std::string file = located(path);
    if (file.empty()) return false;
    try {
        local_path_ = thumbnail_for_file(file);
    } catch (const std::exception&) {
        local_path_.clear();
    }
    return !local_path_.empty();
}

bool winrt_file_input::seek(std::uint64_t offset) {
    close();
    if (local_path_.empty()) return false;
    fd_ = ::open(local_path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
        close();
        return false;
    }
    return true;
}

std::int32_t winrt_file_input::read(char* target, std::uint32_t count) {
    if (fd_ < 0) return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, target, count);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 ? static_cast<std::int32_t>(n) : 0;
    }
}

bool winrt_file_input::rest_of_file(int& descriptor, std::uint64_t& position, std::uint64_t& bytes) const {
    if (fd_ < 0) return false;
    struct stat info {};
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    descriptor = fd_;
    position = static_cast<std::uint64_t>(at);
    bytes = info.st_size > at ? static_cast<std::uint64_t>(info.st_size - at) : 0;
    return true;
}

}  // namespace vandrel
