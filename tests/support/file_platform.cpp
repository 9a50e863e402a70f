#include "tests/support/file_platform.h"

#include <filesystem>
#include <fstream>

#include "core_lib/foundation/file_names.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/platform_services.h"

namespace vandrel::testing {

namespace fs = std::filesystem;

file_platform::file_platform(std::string root) : root_(std::move(root)) {
    if (!root_.empty() && root_.back() != '/') root_ += '/';
}

std::string file_platform::folder(const std::string& token) const {
    std::string path = root_ + token + "/";
    std::error_code ignored;
    fs::create_directories(path, ignored);
    return path;
}

std::string file_platform::add_file(const std::string& token, const std::string& name, const std::string& bytes) const {
    std::ofstream(folder(token) + name, std::ios::binary) << bytes;
    return token + "||" + name;
}

void file_platform::set_download_folder(bool present) {
    std::lock_guard<std::mutex> lock(files_mutex_);
    download_folder_ = present;
}

void file_platform::set_thumbnail(std::string path) {
    std::lock_guard<std::mutex> lock(files_mutex_);
    thumbnail_ = std::move(path);
}

std::string file_platform::download_target_for_file(const std::string& file_name) {
    std::lock_guard<std::mutex> lock(files_mutex_);
    if (!download_folder_) return "";
    return "received|" + safe_folder_path(file_name) + "|" + safe_file_name(file_name);
}

std::string file_platform::resolve_storage_path(const std::string& storage_path) {
    const std::vector<std::string> parts = split(storage_path, "|");
    if (parts.size() != 3 || parts[0].empty() || parts[2].empty()) return "";
    return folder(parts[0]) + (parts[1].empty() ? "" : parts[1] + "/") + parts[2];
}

std::string file_platform::find_file_in_folder(const std::string& storage_path) {
    const std::string path = resolve_storage_path(storage_path);
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec) ? path : "";
}

std::uint64_t file_platform::get_file_size(const std::string& storage_path) {
    const std::string path = find_file_in_folder(storage_path);
    std::error_code ec;
    const auto size = path.empty() ? 0 : fs::file_size(path, ec);
    return ec ? 0 : size;
}

std::string file_platform::thumbnail_for_file(const std::string& file_path) {
    std::lock_guard<std::mutex> lock(files_mutex_);
    std::error_code ec;
    return fs::is_regular_file(file_path, ec) ? thumbnail_ : "";
}

std::string file_platform::get_package_file(const std::string& uri) {
    const std::string prefix = "ms-appx:///";
    if (uri.size() <= prefix.size() || !starts_with(uri, prefix)) return "";
    const std::string path = root_ + "package/" + uri.substr(prefix.size());
    std::error_code ec;
    return fs::is_regular_file(path, ec) ? path : "";
}

std::shared_ptr<file_platform> install_file_platform(const std::string& root) {
    auto previous = platform_services();
    auto platform = std::make_shared<file_platform>(root);
    platform->set_data_folder(previous->get_data_folder_path());
    platform->set_local_folder(previous->get_local_folder_path());
    install_platform_services(platform);
    return platform;
}

}  // namespace vandrel::testing
