#include "MeskRuntimeComponent/xdg_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "core_lib/foundation/text_utils.h"

namespace vandrel {

namespace {

std::string env_value(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string home_from_password_entry() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

std::string without_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string read_text_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value after '=': quoted (with backslash escapes) or bare up to white space.
std::string entry_value(const std::string& raw) {
    std::string value;
    if (!raw.empty() && raw.front() == '"') {
        for (std::size_t i = 1; i < raw.size(); ++i) {
            const char c = raw[i];
            if (c == '"') return value;
            if (c == '\\' && i + 1 < raw.size()) {
                value += raw[++i];
                continue;
            }
            value += c;
        }
        return {};  // unterminated quote
    }
    const auto end = raw.find_first_of(" \t\r");
    return raw.substr(0, end);
}

}  // namespace

PlatformEnvironment environment_from_process() {
    PlatformEnvironment env;
    env.home = env_value("HOME");
    if (env.home.empty() || env.home.front() != '/') env.home = home_from_password_entry();
    env.xdg_data_home = env_value("XDG_DATA_HOME");
    env.xdg_cache_home = env_value("XDG_CACHE_HOME");
    env.xdg_config_home = env_value("XDG_CONFIG_HOME");
    env.path = env_value("PATH");
    env.wayland_display = env_value("WAYLAND_DISPLAY");
    env.display = env_value("DISPLAY");
    return env;
}

std::string xdg_base_folder(const std::string& value, const std::string& home, const std::string& fallback) {
    if (!value.empty() && value.front() == '/') return without_trailing_slashes(value);
    return without_trailing_slashes(home) + "/" + fallback;
}

std::string data_folder_path_of(const PlatformEnvironment& env) {
    return xdg_base_folder(env.xdg_data_home, env.home, ".local/share") + "/mesk/Data/";
}

std::string temporary_folder_path_of(const PlatformEnvironment& env) {
    return xdg_base_folder(env.xdg_cache_home, env.home, ".cache") + "/mesk/tmp/";
}

std::string user_dir_entry(const std::string& file_text, const std::string& key, const std::string& home) {
    std::string result;
    for (const auto& raw_line : split(file_text, "\n")) {
        std::string line = raw_line;
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        line = line.substr(start);
        if (!starts_with(line, key + "=")) continue;
        std::string value = entry_value(line.substr(key.size() + 1));
        if (starts_with(value, "$HOME")) {
            const std::string rest = value.substr(5);
            if (!rest.empty() && rest.front() != '/') continue;
            value = without_trailing_slashes(home) + rest;
        } else if (value.empty() || value.front() != '/') {
            continue;
        }
        value = without_trailing_slashes(value);
        if (value == without_trailing_slashes(home)) continue;
        result = value;  // a later line wins, as when the shell sources the file
    }
    return result;
}

UserFolders user_folders_of(const PlatformEnvironment& env) {
    const std::string home = without_trailing_slashes(env.home);
    const std::string config = xdg_base_folder(env.xdg_config_home, env.home, ".config");
    const std::string text = read_text_file(config + "/user-dirs.dirs");
    auto pick = [&](const char* key, const char* fallback) {
        std::string folder = user_dir_entry(text, key, home);
        return folder.empty() ? home + "/" + fallback : folder;
    };
    UserFolders folders;
    folders.pictures = pick("XDG_PICTURES_DIR", "Pictures");
    folders.music = pick("XDG_MUSIC_DIR", "Music");
    folders.videos = pick("XDG_VIDEOS_DIR", "Videos");
    folders.downloads = pick("XDG_DOWNLOAD_DIR", "Downloads");
    return folders;
}

bool make_folders(const std::string& path, mode_t mode) {
    if (path.empty()) return false;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (part.empty()) continue;
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace vandrel
