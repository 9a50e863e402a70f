// mesk_identity_host: a host that makes up device ids, for the network tests.
//   mesk_identity_host --folder DIR --target ADDRESS --sources A,B,... --mode MODE
//                      [--prefix TEXT] [--rounds N] [--avatar-bytes N]
// Serves HTTPS on port 45001 on every address with a key of its own (a certificate
// made in DIR) and answers each ping under a new id (PREFIX1, PREFIX2, ...), and
// "/get_avatar" with a picture of the given size. It announces a new id from each
// source address every 200 ms, for N rounds (0: until its standard input ends).
// MODE says how it answers chats and completion notices:
//   fresh   success at once
//   slow    never within a minute (the answer is held)
//   refuse  {"status": "error", "error_code": "too_long"} for every chat whose text is
//           not "short"
// It prints "serving" once it listens, "announced N" after its rounds, and
// "chat ID TEXT" for each chat it got.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/net/http/certificate.h"
#include "core_lib/net/http/http_server.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/http/tls_context.h"

using namespace vandrel;
using namespace std::chrono_literals;

namespace {

constexpr std::uint16_t peer_port = 45001;

std::mutex print_mutex;

void print(const std::string& line) {
    std::lock_guard<std::mutex> lock(print_mutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

http_answer json_answer(const Json& body) {
    http_answer answer;
    answer.body = body.dump();
    answer.chunked = false;
    return answer;
}

// One datagram from the source address to the target's announce port.
void send_announce(const std::string& source, const std::string& target, const std::string& text) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(peer_port);
    inet_pton(AF_INET, target.c_str(), &to.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0) {
        sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    close(fd);
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        if (!item.empty()) items.push_back(item);
    }
    return items;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder, target, sources, mode = "fresh", prefix = "made";
    long rounds = 0;
    std::size_t avatar_bytes = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--folder") folder = value + "/";
        if (name == "--target") target = value;
        if (name == "--sources") sources = value;
        if (name == "--mode") mode = value;
        if (name == "--prefix") prefix = value;
        if (name == "--rounds") rounds = std::stol(value);
        if (name == "--avatar-bytes") avatar_bytes = std::stoul(value);
    }
    if (folder.empty() || target.empty() || sources.empty()) {
        std::cerr << "usage: mesk_identity_host --folder DIR --target ADDRESS --sources A,B --mode MODE\n";
        return 2;
    }
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (!ensure_certificate_in(folder)) return 1;

    std::atomic<bool> done{false};
    std::atomic<long> next_id{0};
    const std::string avatar = "data:image/png;base64," + std::string(avatar_bytes, 'A');
    io_manager manager("identity host");
    http_server_config config;
    config.port = peer_port;
    config.tls = make_server_tls_context(folder + certificate_file_name);
    config.handler = [&](const http_request& request) {
        std::string err;
        const Json body = Json::parse(request.body, err);
        if (request.path == "/api/v1/ping") {
            return json_answer(Json::object{{"alias", "Made up"},
                                            {"remote_id", prefix + std::to_string(++next_id)},
                                            {"status", "success"},
                                            {"sys_info", "linux/host"}});
        }
        if (request.path == "/api/v1/get_avatar") {
            return json_answer(Json::object{{"status", "success"}, {"avatar", avatar}});
        }
        if (request.path == "/api/v1/create_chat") {
            print("chat " + body["id"].string_value() + " " + body["data"].string_value());
        }
        if (mode == "slow" &&
            (request.path == "/api/v1/create_chat" || request.path == "/api/v1/completed_downloads")) {
            for (int i = 0; i < 600 && !done; ++i) std::this_thread::sleep_for(100ms);
        }
        if (mode == "refuse" && request.path == "/api/v1/create_chat" && body["data"].string_value() != "short") {
            return json_answer(Json::object{{"status", "error"}, {"error_code", "too_long"}, {"id", body["id"]}});
        }
        return json_answer(Json::object{{"status", "success"}, {"id", body["id"]}});
    };
    std::string error;
    if (start_http_server(manager, std::move(config), error) == 0) {
        std::cerr << "cannot listen: " << error << "\n";
        return 1;
    }
    print("serving");

    std::thread announces([&] {
        const std::vector<std::string> from = split(sources);
        long sent = 0;
        for (long round = 0; !done && (rounds == 0 || round < rounds); ++round) {
            for (const std::string& source : from) {
                send_announce(source, target, prefix + "a" + std::to_string(sent++) + "|linux/host|Made up");
            }
            std::this_thread::sleep_for(200ms);
        }
        print("announced " + std::to_string(sent));
    });
    for (std::string line; std::getline(std::cin, line);) {}
    done = true;
    announces.join();
    manager.stop();
    return 0;
}
