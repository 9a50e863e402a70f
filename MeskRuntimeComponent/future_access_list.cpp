#include "MeskRuntimeComponent/future_access_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/json.h"

namespace vandrel {

namespace {

constexpr std::size_t token_length = 32;

// Absolute, symbolic links resolved, no trailing "/"; "" when it is no existing folder.
std::string folder_key(const std::string& path) {
    if (path.empty() || path.front() != '/') return {};
    std::error_code error;
    const auto canonical = std::filesystem::canonical(path, error);
    if (error || !std::filesystem::is_directory(canonical, error) || error) return {};
    return canonical.string();
}

bool write_all(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<AccessEntry> load_entries(const std::string& file_path) {
    std::ifstream in(file_path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    const Json root = Json::parse(text.str(), error);
    if (!root["folders"].is_array()) {
        std::cerr << "access list: " << file_path << " is damaged, starting empty\n";
        return {};
    }
    std::vector<AccessEntry> entries;
    for (const auto& item : root["folders"].array_items()) {
        AccessEntry entry{item["token"].string_value(), item["folder"].string_value(), item["accepted"].bool_value()};
        bool duplicate = false;
        for (const auto& seen : entries)
            duplicate = duplicate || seen.token == entry.token || seen.folder == entry.folder;
        if (!is_access_token(entry.token) || entry.folder.empty() || entry.folder.front() != '/' || duplicate) {
            std::cerr << "access list: skipping a damaged entry of " << file_path << "\n";
            continue;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace

bool is_access_token(const std::string& text) {
    if (text.size() != token_length) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

FutureAccessList::FutureAccessList(std::string file_path)
    : file_path_(std::move(file_path)), entries_(load_entries(file_path_)) {}

bool FutureAccessList::save(const std::vector<AccessEntry>& entries) const {
    Json::array items;
    for (const auto& entry : entries)
        items.push_back(Json::object{{"token", entry.token}, {"folder", entry.folder}, {"accepted", entry.accepted}});
    const std::string text = Json(Json::object{{"folders", items}}).dump() + "\n";

    const std::string temporary = file_path_ + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::cerr << "access list: cannot write " << temporary << "\n";
        return false;
    }
    const bool written = write_all(fd, text) && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), file_path_.c_str()) != 0) {
        std::cerr << "access list: cannot save " << file_path_ << "\n";
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string FutureAccessList::add(const std::string& folder_path, bool accepted) {
    const std::string folder = folder_key(folder_path);
    if (folder.empty()) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].folder != folder) continue;
        if (accepted && !entries_[i].accepted) {
            auto next = entries_;
            next[i].accepted = true;
            if (!save(next)) return {};
            entries_ = std::move(next);
        }
        return entries_[i].token;
    }
    std::string token;
    for (bool taken = true; taken;) {
        token = random_string().substr(0, token_length);
        taken = false;
        for (const auto& entry : entries_) taken = taken || entry.token == token;
    }
    auto next = entries_;
    next.push_back(AccessEntry{token, folder, accepted});
    if (!save(next)) return {};
    entries_ = std::move(next);
    return token;
}

std::optional<std::string> FutureAccessList::folder_for(const std::string& token) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : entries_)
        if (entry.token == token) return entry.folder;
    return std::nullopt;
}

bool FutureAccessList::contains(const std::string& token) const { return folder_for(token).has_value(); }

std::vector<std::string> FutureAccessList::accepted_folders() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> folders;
    for (const auto& entry : entries_)
        if (entry.accepted) folders.push_back(entry.folder);
    return folders;
}

std::vector<AccessEntry> FutureAccessList::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

}  // namespace vandrel
