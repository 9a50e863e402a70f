#include "core_lib/net/transfer/output_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "core_lib/foundation/file_names.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"

namespace vandrel {

namespace {

const char* const owner_attribute = "user.mesk.file_id";

}  // namespace

std::string received_file_folder(const std::string& name) {
    try {
        const std::string target = download_target_for_file(name);
        if (target.empty()) return "";
        const std::string path = resolve_storage_path(target);
        return path.empty() ? "" : parent_folder_of_path(path);
    } catch (const std::exception&) {
        return "";
    }
}

winrt_file_output::~winrt_file_output() { close_file(); }

void winrt_file_output::close_file() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool winrt_file_output::rename_to(const std::string& new_name) {
    const std::string name = safe_file_name(filepath);
    const std::string folder = received_file_folder(name);
    if (folder.empty()) return false;
    return std::rename((folder + name).c_str(), (folder + file_name_of_path(new_name)).c_str()) == 0;
}

bool winrt_file_output::create(const std::string& name) {
    close_file();
    open_path_.clear();
    const std::string folder = received_file_folder(name);
    if (folder.empty()) {
        error = no_download_folder_error;
        return false;
    }
    const std::string path = folder + file_name_of_path(name);
    // Opened if it is there, so that what an earlier attempt wrote is kept and grown.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        error = std::strerror(errno);
        if (error.empty()) error = "unknown file transfer error";
        return false;
    }
    open_path_ = path;
    return true;
}

std::uint32_t winrt_file_output::write(const char* bytes, std::uint32_t length) {
    if (fd_ < 0) return 0;
    std::uint32_t written = 0;
    while (written < length) {
        const ssize_t n = ::write(fd_, bytes + written, length - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // The disk's own words (a full disk, say), not those of the connection that
            // is closed because of it.
            if (error.empty()) error = n < 0 ? std::strerror(errno) : "unknown file transfer error";
            break;
        }
        written += static_cast<std::uint32_t>(n);
    }
    return written;
}

bool winrt_file_output::finish() {
    if (open_path_.empty()) {
        close_file();
        return true;
    }
    // Whole on disk before it takes the final name: a power cut never leaves a
    // complete-looking file with bytes missing.
    const bool on_disk = fd_ >= 0 && ::fdatasync(fd_) == 0;
    close_file();
    if (!on_disk) return false;
    const std::string name = safe_file_name(filepath);
    const std::string folder = parent_folder_of_path(open_path_);
    if (std::rename(open_path_.c_str(), (folder + name).c_str()) != 0) return false;
    // The name it had while it arrived belongs to no transfer now.
    ::removexattr((folder + name).c_str(), owner_attribute);
    open_path_.clear();
    send_to_ui(
        Json(Json::object{
                 {"action", "download_completed"}, {"file_id", file_id}, {"filepath", filepath}, {"chat_id", chat_id}})
            .dump());
    return true;
}

bool winrt_file_output::discard() {
    close_file();
    if (open_path_.empty()) return true;
    const bool removed = ::unlink(open_path_.c_str()) == 0 || errno == ENOENT;
    open_path_.clear();
    return removed;
}

void winrt_file_output::flush() {
    if (fd_ >= 0) ::fdatasync(fd_);
}

std::optional<std::uint64_t> winrt_file_output::size() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

bool winrt_file_output::begun_for_other(const std::string& owner) const {
    if (fd_ < 0) return false;
    char held[256];
    const ssize_t n = ::fgetxattr(fd_, owner_attribute, held, sizeof held);
    // No mark (a file system without attributes, or a file from elsewhere): nothing
    // says it is another transfer's.
    if (n < 0) return false;
    return std::string(held, static_cast<std::size_t>(n)) != owner;
}

void winrt_file_output::mark_begun_for(const std::string& owner) const {
    if (fd_ >= 0) ::fsetxattr(fd_, owner_attribute, owner.data(), owner.size(), 0);
}

}  // namespace vandrel
