#include "core_lib/net/transfer/output_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core_lib/foundation/file_names.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/received_files.h"

namespace vandrel {

namespace {

// Backup names tried for one file before it counts as having no free name.
constexpr unsigned backup_attempts = 1000;

// Makes each folder of `relative` ("a/b") under `root` (ending in "/"); false when a step
// is there as something other than a folder (a file, a link).
bool make_folders(const std::string& root, const std::string& relative) {
    std::string path = root;
    for (const std::string& step : split(relative, "/")) {
        if (step.empty()) continue;
        path += step;
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
        path += "/";
    }
    return true;
}

// Renames `from` to `to` unless something stands at `to` (false, errno EEXIST).
bool rename_no_replace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot promise it: look first.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

std::string received_file_folder(const std::string& name) {
    try {
        // The last component only: the kind's folder, whatever folders the name has.
        const std::string target = download_target_for_file(safe_file_name(name));
        if (target.empty()) return "";
        const std::string path = resolve_storage_path(target);
        return path.empty() ? "" : parent_folder_of_path(path);
    } catch (const std::exception&) {
        return "";
    }
}

std::string partial_file_path(const std::string& name, const std::string& file_id) {
    const std::string folder = received_file_folder(name);
    if (folder.empty()) return "";
    return folder + partial_folder_name + "/" + partial_file_name(file_id);
}

winrt_file_output::~winrt_file_output() { close_file(); }

void winrt_file_output::close_file() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool winrt_file_output::create() {
    close_file();
    open_path_.clear();
    const std::string path = partial_file_path(filepath, file_id);
    if (path.empty()) {
        error = no_download_folder_error;
        return false;
    }
    const std::string folder = parent_folder_of_path(path);
    // Opened if it is there, so that what an earlier attempt wrote is kept and grown.
    if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST)
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        error = std::strerror(errno);
        if (error.empty()) error = "unknown file transfer error";
        return false;
    }
    open_path_ = path;
    return true;
}

bool winrt_file_output::place() {
    const std::vector<std::string> target = split(download_target_for_file(filepath), "|");
    const std::string root = received_file_folder(filepath);
    if (target.size() != 3 || root.empty() || !make_folders(root, target[1])) return false;
    const std::string folder = root + (target[1].empty() ? "" : target[1] + "/");
    for (unsigned attempt = 0; attempt <= backup_attempts; ++attempt) {
        const std::string name = attempt == 0 ? target[2] : backup_file_name(target[2], total_bytes, attempt - 1);
        const std::string storage_path = target[0] + "|" + target[1] + "|" + name;
        // Another peer's file, even one the user removed since: its chat still opens it.
        if (db_received_file_at(storage_path, file_id)) continue;
        if (rename_no_replace(open_path_, folder + name)) {
            db_set_file_received_at(file_id, storage_path);
            return true;
        }
        // What is in the way stays as it is; anything else is no name problem.
        if (errno != EEXIST && errno != ENOTEMPTY && errno != EISDIR) return false;
    }
    return false;
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
    bool placed = false;
    try {
        placed = place();
    } catch (const std::exception&) {
        // The store could not be asked: the file stays where it is for a later attempt.
    }
    if (!placed) return false;
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

}  // namespace vandrel
