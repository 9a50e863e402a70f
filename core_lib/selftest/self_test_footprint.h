// What a run of the self test changes in the live core, and how it is put back. Before
// the run changes anything, take_snapshot() notes the settings it will change (the alias,
// the config key "test", the fake device, where the directory holds this device); each
// check notes what it makes before it makes it (chats, uploads, downloads, files on
// disk). restore() puts the settings back and removes what was made, whether the run
// ended well, failed half-way or is being stopped; a user's own rows are never touched
// (removals go by the ids the run made, and by their sender).
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

inline const std::string fake_device_id = "fake_device";
inline const std::string self_test_config_key = "test";

class self_test_footprint {
public:
    void take_snapshot();

    // An alias the run gives this device; the one from before comes back unless the
    // user chose another meanwhile.
    void note_alias(const std::string& alias);
    void note_chat(const std::string& id, const std::string& sender);
    void note_upload(const std::string& id, const std::string& sender);
    void note_download(const std::string& id, const std::string& sender);
    // A loop-back transfer (upload and download of one id); until it is noted as
    // settled, restore() stops it and lets its files settle before it removes them.
    void note_loopback(const std::string& id, const std::string& file_name);
    void note_loopback_settled(const std::string& id);
    // A file the run wrote, by its path on disk.
    void note_file(const std::string& path);

    // Puts everything back; a second call does nothing. Throws when the store fails;
    // what could be put back before that is back.
    void restore();

private:
    void stop_unsettled_transfers();

    bool restored_ = false;
    std::string alias_;
    std::set<std::string> aliases_written_;
    std::string config_value_;
    Json fake_device_;  // its record when it existed before the run, else null
    std::string own_address_;
    std::vector<std::pair<std::string, std::string>> chats_;
    std::vector<std::pair<std::string, std::string>> uploads_;
    std::vector<std::pair<std::string, std::string>> downloads_;
    std::vector<std::pair<std::string, std::string>> loopbacks_;  // id, file name
    std::set<std::string> settled_;
    std::vector<std::string> files_;
};

}  // namespace vandrel
