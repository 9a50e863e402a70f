#include "tests/e2e/mesk_session.h"

#include <filesystem>
#include <thread>

#include "core_lib/store/schema.h"

namespace vandrel::testing {

using namespace std::chrono_literals;

Json parse_json(const std::string& text) {
    std::string err;
    return Json::parse(text, err);
}

OutputReader::OutputReader(std::unique_ptr<ChildProcess> child) : child_(std::move(child)) {}

std::optional<std::string> OutputReader::take_prefixed(const std::string& prefix, std::chrono::milliseconds limit) {
    return take_line([&](const std::string& l) { return l.rfind(prefix, 0) == 0; }, limit);
}

std::optional<std::string> OutputReader::take_line(const std::function<bool(const std::string&)>& wanted,
                                                   std::chrono::milliseconds limit) {
    for (auto it = backlog_.begin(); it != backlog_.end(); ++it) {
        if (!wanted(*it)) continue;
        std::string line = std::move(*it);
        backlog_.erase(it);
        return line;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return std::nullopt;
        auto line = child_->read_line(left);
        if (!line) return std::nullopt;
        if (wanted(*line)) return line;
        backlog_.push_back(std::move(*line));
    }
}

std::optional<std::string> OutputReader::take_after(const std::function<bool(const std::string&)>& wanted,
                                                    std::chrono::milliseconds limit) {
    for (auto it = backlog_.begin(); it != backlog_.end(); ++it) {
        if (!wanted(*it)) continue;
        std::string line = std::move(*it);
        backlog_.erase(backlog_.begin(), it + 1);
        return line;
    }
    auto line = take_line(wanted, limit);
    if (line) backlog_.clear();
    return line;
}

bool MeskSession::started(std::chrono::milliseconds limit) {
    return take_line([](const std::string& l) { return l == "event core_started"; }, limit).has_value();
}

Json MeskSession::request(const std::string& endpoint, const std::string& body) {
    child_->write_line(endpoint + " " + body);
    const std::string prefix = "reply " + endpoint + " ";
    auto line = take_line([&](const std::string& l) { return l.rfind(prefix, 0) == 0; }, 30s);
    return line ? parse_json(line->substr(prefix.size())) : Json();
}

Json MeskSession::event(const std::string& action, std::chrono::milliseconds limit,
                        const std::function<bool(const Json&)>& wanted) {
    auto line = take_line(
        [&](const std::string& l) {
            if (l.rfind("event ", 0) != 0) return false;
            const Json e = parse_json(l.substr(6));
            return e["action"].string_value() == action && (!wanted || wanted(e));
        },
        limit);
    return line ? parse_json(line->substr(6)) : Json();
}

std::vector<Json> MeskSession::events_within(const std::string& action, std::chrono::milliseconds period) {
    std::vector<Json> found;
    const auto deadline = std::chrono::steady_clock::now() + period;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        Json e = event(action, std::max(left, 0ms));
        if (e.is_null()) return found;
        found.push_back(std::move(e));
    }
}

const std::string& MeskSession::id() {
    if (id_.empty()) id_ = request("/who_am_i", "{}")["device_id"].string_value();
    return id_;
}

std::map<std::string, std::string> MeskSession::peers() {
    std::map<std::string, std::string> listed;
    const Json reply = request("/get_recently_changed_devices", R"({"last_pull_devices": "0"})");
    for (const Json& d : reply["devices"].array_items()) listed[d["id"].string_value()] = d["ip"].string_value();
    return listed;
}

bool MeskSession::lists(const std::map<std::string, std::string>& expected,
                        std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto listed = peers();
        bool all = true;
        for (const auto& [id, ip] : expected) {
            auto it = listed.find(id);
            all = all && it != listed.end() && it->second == ip;
        }
        if (all) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
}

bool MeskSession::quit() {
    try {
        child_->write_line(":quit");
    } catch (const std::exception&) {
        // already gone
    }
    return child_->wait_exit(20s).has_value();
}

std::string curl_on(const TestNetwork& net, const TestDevice& on, const std::vector<std::string>& args,
                    std::string* code) {
    std::vector<std::string> argv = {"/usr/bin/env", "curl", "-sk", "--max-time", "20", "-w", "\n%{http_code}"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out = net.run(on, argv);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    auto nl = out.rfind('\n');
    if (code) *code = nl == std::string::npos ? out : out.substr(nl + 1);
    return nl == std::string::npos ? "" : out.substr(0, nl);
}

std::unique_ptr<MeskSession> start_mesk_session(const TestNetwork& net, const TestDevice& device) {
    auto session = std::make_unique<MeskSession>(net.start(device, {MESK_BINARY}));
    if (!session->started()) return nullptr;
    return session;
}

std::unique_ptr<OutputReader> start_cloud_standin(const TestNetwork& net, const TestDevice& device,
                                                  const std::vector<std::string>& options) {
    std::vector<std::string> argv = {MESK_CLOUD_STANDIN_BINARY, "--folder", device.root + "/cloud", "--listen",
                                     device.address};
    argv.insert(argv.end(), options.begin(), options.end());
    auto standin = std::make_unique<OutputReader>(net.start(device, argv));
    if (!standin->take_prefixed("listening ", 30s)) return nullptr;
    return standin;
}

std::unique_ptr<SQLite::Database> open_app_db(const std::string& data_folder) {
    std::filesystem::create_directories(data_folder);
    std::filesystem::permissions(data_folder, std::filesystem::perms::owner_all);
    auto db = std::make_unique<SQLite::Database>(data_folder + "app.db", SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    create_tables(*db);
    add_columns(*db);
    add_indexes(*db);
    return db;
}

}  // namespace vandrel::testing
