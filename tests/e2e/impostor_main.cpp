// mesk_impostor: a host that claims another device's id, for the network tests.
//   mesk_impostor --folder DIR --claim DEVICE_ID --target ADDRESS --receiver TARGET_ID
// Serves HTTPS on port 45001 with a key of its own (a certificate made in DIR) and
// answers every ping as DEVICE_ID, and takes every chat sent to it. Until its standard
// input ends, it keeps making the claim at ADDRESS: an announce datagram as DEVICE_ID,
// a ping with DEVICE_ID, and a text chat from DEVICE_ID to TARGET_ID (ids
// "impostor-N"), about twice a second. It prints:
//   "serving"                 once it listens
//   "pinged"                  a ping it answered as DEVICE_ID
//   "chat ID"                 a chat the target sent to it
//   "chat_answer TEXT"        the target's answer to one of its chats
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "core_lib/foundation/json.h"
#include "core_lib/net/http/certificate.h"
#include "core_lib/net/http/http_server.h"
#include "core_lib/net/http/https_client.h"
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

void send_announce(const std::string& address, const std::string& text) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(peer_port);
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder, claim, target, receiver;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--folder") folder = std::string(argv[i + 1]) + "/";
        if (name == "--claim") claim = argv[i + 1];
        if (name == "--target") target = argv[i + 1];
        if (name == "--receiver") receiver = argv[i + 1];
    }
    if (folder.empty() || claim.empty() || target.empty() || receiver.empty()) {
        std::cerr << "usage: mesk_impostor --folder DIR --claim DEVICE_ID --target ADDRESS --receiver TARGET_ID\n";
        return 2;
    }
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (!ensure_certificate_in(folder)) return 1;

    io_manager manager("impostor");
    http_server_config config;
    config.port = peer_port;
    config.tls = make_server_tls_context(folder + certificate_file_name);
    config.handler = [claim](const http_request& request) {
        std::string err;
        const Json body = Json::parse(request.body, err);
        if (request.path == "/api/v1/ping") print("pinged");
        if (request.path == "/api/v1/create_chat") print("chat " + body["id"].string_value());
        return json_answer(Json::object{{"alias", "Impostor"},
                                        {"remote_id", claim},
                                        {"status", "success"},
                                        {"sys_info", "linux/impostor"},
                                        {"id", body["id"]}});
    };
    std::string error;
    if (start_http_server(manager, std::move(config), error) == 0) {
        std::cerr << "cannot listen: " << error << "\n";
        return 1;
    }
    print("serving");

    std::atomic<bool> done{false};
    std::thread claims([&] {
        const std::string api = "https://" + target + ":45001/api/v1";
        const std::string ping =
            Json(Json::object{{"device_id", claim}, {"alias", "Impostor"}, {"sys_info", "linux/impostor"}}).dump();
        for (int n = 0; !done; ++n) {
            send_announce(target, claim + "|linux/impostor|Impostor");
            post_json(api + "/ping", ping, 5s);
            const Json chat(Json::object{{"id", "impostor-" + std::to_string(n)},
                                         {"sender", claim},
                                         {"receiver", receiver},
                                         {"type", "text"},
                                         {"data", "forged"}});
            print("chat_answer " + post_json(api + "/create_chat", chat.dump(), 10s));
            std::this_thread::sleep_for(500ms);
        }
    });
    for (std::string line; std::getline(std::cin, line);) {}
    done = true;
    claims.join();
    manager.stop();
    return 0;
}
