// The folders this system may reach, each under a token: the future-access list and the
// accepted-folders list in one store. Tokens are random, stable across restarts, and one
// folder always has one token. The list lives in one JSON file (in the data folder),
// replaced atomically on each change. An entry marked "accepted" is one the user added
// to the accepted folders; other entries are folders granted for transfers. Thread-safe.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vandrel {

struct AccessEntry {
    std::string token;   // 32 lower-case hexadecimal characters
    std::string folder;  // absolute, symbolic links resolved, no trailing "/"
    bool accepted = false;
};

class FutureAccessList {
public:
    // Loads the file; a missing file is an empty list, a damaged one is logged and
    // read as empty (the next change replaces it).
    explicit FutureAccessList(std::string file_path);

    // The folder's token, made and saved on first use. Adding with accepted=true also
    // marks an existing entry accepted (never unmarked). "" when the path is not an
    // existing folder or the list cannot be saved (then nothing changes).
    std::string add(const std::string& folder_path, bool accepted = false);

    std::optional<std::string> folder_for(const std::string& token) const;
    bool contains(const std::string& token) const;
    // Folders marked accepted, in the order they were first added.
    std::vector<std::string> accepted_folders() const;
    std::vector<AccessEntry> entries() const;

    const std::string& file_path() const { return file_path_; }

private:
    bool save(const std::vector<AccessEntry>& entries) const;

    const std::string file_path_;
    mutable std::mutex mutex_;
    std::vector<AccessEntry> entries_;
};

// True for a text the list could have made as a token.
bool is_access_token(const std::string& text);

}  // namespace vandrel
