// One mesk program as the network tests drive it: requests typed on its input, its
// replies and events read from its output. Every output line is taken once; a line
// passed over while waiting for another stays for a later wait, so replies and events
// may come in any order.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <SQLiteCpp/Database.h>

#include "core_lib/foundation/json.h"
#include "tests/e2e/netns_harness.h"
#include "tests/support/child_process.h"

namespace vandrel::testing {

// The output of a program of the test network, each line taken once.
class OutputReader {
public:
    explicit OutputReader(std::unique_ptr<ChildProcess> child);

    ChildProcess& process() { return *child_; }
    int pid() const { return child_->pid(); }

    // The first line, waiting or new, that `wanted` accepts within the limit.
    std::optional<std::string> take_line(const std::function<bool(const std::string&)>& wanted,
                                         std::chrono::milliseconds limit);
    // As take_line, but the lines that came before the one taken are dropped: a later
    // wait sees only what came after it.
    std::optional<std::string> take_after(const std::function<bool(const std::string&)>& wanted,
                                          std::chrono::milliseconds limit);
    // The same for the first line that begins with `prefix`.
    std::optional<std::string> take_prefixed(const std::string& prefix, std::chrono::milliseconds limit);

protected:
    std::unique_ptr<ChildProcess> child_;
    std::deque<std::string> backlog_;
};

class MeskSession : public OutputReader {
public:
    using OutputReader::OutputReader;

    // Waits for "event core_started".
    bool started(std::chrono::milliseconds limit = std::chrono::seconds(60));

    // The parsed reply; null when none came within 30 s.
    Json request(const std::string& endpoint, const std::string& body);
    // The next event with that "action" that `wanted` accepts (any, when empty); null when
    // none came within the limit.
    Json event(const std::string& action, std::chrono::milliseconds limit,
               const std::function<bool(const Json&)>& wanted = {});
    // Every event with that action that comes within the period (and those waiting).
    std::vector<Json> events_within(const std::string& action, std::chrono::milliseconds period);

    // This device's id (asked once).
    const std::string& id();
    // Each device it lists, by id, with its "ip" ("" when its address is not known).
    std::map<std::string, std::string> peers();
    // Polls peers() until each expected id is listed with its address; false when the
    // deadline passed first.
    bool lists(const std::map<std::string, std::string>& expected, std::chrono::steady_clock::time_point deadline);

    // ":quit" and the end of the program; false when it did not end within 20 s.
    bool quit();

private:
    std::string id_;
};

// Parsed JSON, null when the text is none.
Json parse_json(const std::string& text);

// curl inside the device's namespace (certificates not checked, 20 s at most): the
// answer body, and the status code through `code`.
std::string curl_on(const TestNetwork& net, const TestDevice& on, const std::vector<std::string>& args,
                    std::string* code = nullptr);

// mesk on the device, once it said "core_started"; null when it did not within 60 s.
std::unique_ptr<MeskSession> start_mesk_session(const TestNetwork& net, const TestDevice& device);
// The cloud stand-in on the device, its certificate under the device's folder, once it
// listens; null when it did not start.
std::unique_ptr<OutputReader> start_cloud_standin(const TestNetwork& net, const TestDevice& device,
                                                  const std::vector<std::string>& options = {});
// The app.db of a data folder with the core's schema (made when missing), to seed a
// device's store before it starts.
std::unique_ptr<SQLite::Database> open_app_db(const std::string& data_folder);

}  // namespace vandrel::testing
