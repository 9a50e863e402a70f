// What the file transfer tests of the test network share: files of random bytes and
// their SHA-256, offers made the way a user makes them (the category picker of the
// sending device), a slowed link, a device's byte counters, and the state of a file as
// the receiving device's store holds it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"

namespace vandrel::testing {

// Writes `size` random bytes (seeded, so each seed gives other bytes) and returns their
// SHA-256 in hex.
std::string write_random_file(const std::string& path, std::uint64_t size, std::uint64_t seed);
// The SHA-256 of a file's bytes in hex; "" when it cannot be read.
std::string file_sha256(const std::string& path);
// The file's size, or nothing when there is no such file.
std::optional<std::uint64_t> file_size(const std::string& path);

// The folders of a device's user, as mesk finds them (made when missing; end in "/").
std::string pictures_folder(const TestDevice& device);
std::string downloads_folder(const TestDevice& device);

// An upload as the sending device's interface saw it arrive ("new_chat").
struct offer {
    std::string chat_id;
    std::map<std::string, std::string> file_ids;  // name as offered -> file id
    Json chat;                                    // the chat as the event gave it
};

// Picks the files (paths on the sender) for the peer with the category picker and waits
// for the upload's "new_chat" on the sender; nothing when none came within 60 s.
std::optional<offer> offer_files(MeskSession& sender, const std::string& to, const std::vector<std::string>& paths);

// Starts mesk on every device of the network and waits until each lists every other
// with its address; empty when one did not start or they did not meet within 60 s.
std::vector<std::unique_ptr<MeskSession>> start_and_meet(const TestNetwork& net, int count);

// Limits what leaves the device (its eth0) to `rate` (tc's words, "100mbit"); "" lifts
// the limit.
void limit_rate(const TestNetwork& net, const TestDevice& device, const std::string& rate);
// Why tc's netem cannot delay and drop packets here ("" when it can): no `tc`, or a
// kernel without sch_netem.
std::string netem_unavailable_reason();
// What leaves the device (its eth0) is delayed and dropped as netem's words say
// ("delay 200ms loss 5%"); "" lifts it.
void impair_link(const TestNetwork& net, const TestDevice& device, const std::string& netem);
// Takes the device's eth0 down (false) or up again (true).
void set_link(const TestNetwork& net, const TestDevice& device, bool up);

// Bytes the device's eth0 has sent so far.
std::uint64_t sent_bytes(const TestNetwork& net, const TestDevice& device);

// Polls until the file holds at least `bytes`; false when the limit passed first.
bool wait_for_size(const std::string& path, std::uint64_t bytes, std::chrono::milliseconds limit);

// The status of a file to receive (or to send, `table` "files_to_send") in the device's
// store, read beside the running program; "" when there is no such row.
std::string stored_status(const TestDevice& device, const std::string& file_id,
                          const std::string& table = "files_to_receive");
// Polls stored_status until it is `wanted`; false when the limit passed first.
bool wait_for_status(const TestDevice& device, const std::string& file_id, const std::string& wanted,
                     std::chrono::milliseconds limit);

// Where the receiving folder keeps the file of that id while it arrives.
std::string partial_file(const std::string& folder, const std::string& file_id);
// Names of the files still arriving (or left over) in the folder's partial files.
std::vector<std::string> temporary_files(const std::string& folder);

// Whether the event's "file_id" is `id`.
inline auto file_is(const std::string& id) {
    return [id](const Json& e) { return e["file_id"].string_value() == id; };
}

}  // namespace vandrel::testing
