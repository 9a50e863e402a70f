// Where this system keeps its files on Linux: the data and temporary folders under the
// XDG base folders, and the user's Pictures, Music, Videos and downloads folders from
// user-dirs.dirs. Everything is computed from a PlatformEnvironment, so tests can point
// it at temporary folders; only environment_from_process() reads the real process.
#pragma once

#include <sys/types.h>
#include <string>

namespace vandrel {

struct PlatformEnvironment {
    std::string home;           // $HOME (the password entry's home when unset)
    std::string xdg_data_home;  // these three may be empty or relative: then ignored
    std::string xdg_cache_home;
    std::string xdg_config_home;
    std::string path;             // $PATH, where helper programs are looked for
    std::string wayland_display;  // $WAYLAND_DISPLAY
    std::string display;          // $DISPLAY
};

PlatformEnvironment environment_from_process();

// The XDG base folder: `value` when it is an absolute path, else home + "/" + fallback.
// No trailing "/".
std::string xdg_base_folder(const std::string& value, const std::string& home, const std::string& fallback);

// "$XDG_DATA_HOME/mesk/Data/" (default "~/.local/share/mesk/Data/"), ends in "/".
std::string data_folder_path_of(const PlatformEnvironment& env);
// "$XDG_CACHE_HOME/mesk/tmp/" (default "~/.cache/mesk/tmp/"), ends in "/".
std::string temporary_folder_path_of(const PlatformEnvironment& env);

// Absolute folder paths without a trailing "/".
struct UserFolders {
    std::string pictures;
    std::string music;
    std::string videos;
    std::string downloads;
};

// The value of one entry (such as "XDG_PICTURES_DIR") of a user-dirs.dirs text with
// "$HOME" expanded; "" when the entry is missing, not "$HOME/..." or absolute, or names
// the home folder itself (which user-dirs.dirs uses to switch a folder off).
std::string user_dir_entry(const std::string& file_text, const std::string& key, const std::string& home);

// The four folders from "$XDG_CONFIG_HOME/user-dirs.dirs", each entry that is missing
// falling back to ~/Pictures, ~/Music, ~/Videos and ~/Downloads. Creates nothing.
UserFolders user_folders_of(const PlatformEnvironment& env);

// Makes the folder and its missing parents with `mode`; true when it exists as a folder.
bool make_folders(const std::string& path, mode_t mode);

}  // namespace vandrel
