#include "tests/e2e/transfer_harness.h"

#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include "core_lib/foundation/file_names.h"

namespace vandrel::testing {

namespace {

using namespace std::chrono_literals;

class digest {
public:
    digest() : context_(EVP_MD_CTX_new(), EVP_MD_CTX_free) { EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr); }
    void add(const char* bytes, std::size_t size) { EVP_DigestUpdate(context_.get(), bytes, size); }
    std::string hex() {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_.get(), out, &length);
        static const char digits[] = "0123456789abcdef";
        std::string text;
        for (unsigned int i = 0; i < length; ++i) {
            text += digits[out[i] >> 4];
            text += digits[out[i] & 15];
        }
        return text;
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_;
};

// A shell-quoted word: '...' with each ' written as '\''.
std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string made_folder(const std::string& path) {
    std::filesystem::create_directories(path);
    return path;
}

}  // namespace

std::string write_random_file(const std::string& path, std::uint64_t size, std::uint64_t seed) {
    std::mt19937_64 draw(seed);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    digest sum;
    std::vector<std::uint64_t> block(8192);
    for (std::uint64_t left = size; left > 0;) {
        for (auto& word : block) word = draw();
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size() * sizeof(std::uint64_t)));
        const char* bytes = reinterpret_cast<const char*>(block.data());
        out.write(bytes, static_cast<std::streamsize>(n));
        sum.add(bytes, n);
        left -= n;
    }
    return sum.hex();
}

std::string file_sha256(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    digest sum;
    std::vector<char> block(1 << 20);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        sum.add(block.data(), static_cast<std::size_t>(in.gcount()));
    }
    return sum.hex();
}

std::optional<std::uint64_t> file_size(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

std::string pictures_folder(const TestDevice& device) { return made_folder(device.root + "/home/Pictures/"); }
std::string downloads_folder(const TestDevice& device) { return made_folder(device.root + "/home/Downloads/"); }

std::optional<offer> offer_files(MeskSession& sender, const std::string& to, const std::vector<std::string>& paths) {
    std::string line = ":pick-category " + Json(Json::object{{"type", "files"}, {"to", to}}).dump();
    for (const std::string& path : paths) line += " " + quoted(path);
    sender.process().write_line(line);
    const Json chat = sender.event("new_chat", 60s, [&](const Json& e) {
        return e["info"]["type"].string_value() == "upload" && e["info"]["receiver"].string_value() == to;
    });
    if (chat.is_null()) return std::nullopt;
    offer made;
    made.chat = chat["info"];
    made.chat_id = chat["info"]["id"].string_value();
    for (const Json& file : chat["info"]["files"].array_items())
        made.file_ids[file["filename"].string_value()] = file["id"].string_value();
    return made;
}

std::vector<std::unique_ptr<MeskSession>> start_and_meet(const TestNetwork& net, int count) {
    std::vector<std::unique_ptr<MeskSession>> sessions;
    std::vector<std::string> ids;
    for (int i = 0; i < count; ++i) {
        sessions.push_back(start_mesk_session(net, net.device(i)));
        if (!sessions.back()) return {};
        ids.push_back(sessions.back()->id());
    }
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < count; ++j) {
            if (i != j && !sessions[i]->lists({{ids[j], net.device(j).address}}, deadline)) return {};
        }
    }
    return sessions;
}

void limit_rate(const TestNetwork& net, const TestDevice& device, const std::string& rate) {
    if (rate.empty()) {
        net.run(device, {"/usr/bin/env", "tc", "qdisc", "del", "dev", "eth0", "root"});
        return;
    }
    net.run(device, {"/usr/bin/env", "tc", "qdisc", "replace", "dev", "eth0", "root", "tbf", "rate", rate, "burst",
                     "256kb", "latency", "100ms"});
}

std::string netem_unavailable_reason() {
    int status = 0;
    run_command({"/usr/bin/env", "tc", "-V"}, &status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "no `tc` here (scripts/install-deps.sh installs iproute2)";
    const std::string probe = "mesk-netem-" + std::to_string(getpid());
    run_command({"/usr/bin/env", "ip", "netns", "add", probe});
    run_command({"/usr/bin/env", "ip", "netns", "exec", probe, "tc", "qdisc", "add", "dev", "lo", "root", "netem",
                 "delay", "1ms"},
                &status);
    run_command({"/usr/bin/env", "ip", "netns", "del", probe});
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "this kernel has no netem (sch_netem)";
    return "";
}

void impair_link(const TestNetwork& net, const TestDevice& device, const std::string& netem) {
    if (netem.empty()) {
        net.run(device, {"/usr/bin/env", "tc", "qdisc", "del", "dev", "eth0", "root"});
        return;
    }
    // Each packet on the wire meets the delay and the loss, not a 64 KiB batch.
    net.run(device, {"/usr/bin/env", "ip", "link", "set", "eth0", "gso_max_segs", "1"});
    std::vector<std::string> argv = {"/usr/bin/env", "tc", "qdisc", "replace", "dev", "eth0", "root", "netem"};
    std::istringstream words(netem);
    for (std::string word; words >> word;) argv.push_back(word);
    net.run(device, argv);
}

void set_link(const TestNetwork& net, const TestDevice& device, bool up) {
    net.run(device, {"/usr/bin/env", "ip", "link", "set", "eth0", up ? "up" : "down"});
}

std::uint64_t sent_bytes(const TestNetwork& net, const TestDevice& device) {
    std::string err;
    const Json links = Json::parse(net.run(device, {"/usr/bin/env", "ip", "-s", "-j", "link", "show", "eth0"}), err);
    const Json& tx = links[0]["stats64"]["tx"]["bytes"];
    return static_cast<std::uint64_t>(tx.number_value());
}

bool wait_for_size(const std::string& path, std::uint64_t bytes, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto size = file_size(path);
        if (size && *size >= bytes) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
}

std::string stored_status(const TestDevice& device, const std::string& file_id, const std::string& table) {
    try {
        SQLite::Database db(device.data_folder() + "app.db", SQLite::OPEN_READWRITE, 5000);
        SQLite::Statement select(db, "select status from " + table + " where id = ?");
        select.bind(1, file_id);
        return select.executeStep() ? select.getColumn(0).getString() : "";
    } catch (const std::exception&) {
        return "";
    }
}

bool wait_for_status(const TestDevice& device, const std::string& file_id, const std::string& wanted,
                     std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (stored_status(device, file_id) == wanted) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
}

std::string partial_file(const std::string& folder, const std::string& file_id) {
    return folder + partial_folder_name + "/" + partial_file_name(file_id);
}

std::vector<std::string> temporary_files(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder + partial_folder_name, ec))
        names.push_back(entry.path().filename().string());
    return names;
}

}  // namespace vandrel::testing
