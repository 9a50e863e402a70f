// mesk_cloud_standin: the cloud service for the network tests, on one namespace.
//   mesk_cloud_standin --folder DIR [--listen ADDRESS] [--port PORT] [--die-on-events N]
// Serves HTTPS on ADDRESS:PORT (every address and 443 by default) with a self-signed
// certificate it makes in DIR, and answers the two calls a core makes:
//   POST /api/v1/discovery  with every other device that posted discovery here from the
//                           same network (same "ssid" and "bssid");
//   POST /api/v1/events     by recording the events and answering "latest_date": the
//                           "date_created" of the last one received.
// With --die-on-events N it takes the Nth events request and ends without answering.
// It prints one line per request (the tests read them):
//   "listening PORT"
//   "discovery DEVICE_ID listed COUNT IPS"  COUNT devices in the answer, IPS those posted
//                                          ("|"-separated)
//   "events COUNT DATE..."               the "date_created" of each event received
//   "dying"                              before it ends without an answer
// and runs until its standard input ends.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <string>

#include "core_lib/foundation/json.h"
#include "core_lib/net/http/certificate.h"
#include "core_lib/net/http/http_server.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/http/tls_context.h"

using namespace vandrel;

namespace {

struct options {
    std::string folder;
    std::string listen;
    std::uint16_t port = 443;
    int die_on_events = 0;  // 0: never
};

bool parse_options(int argc, char** argv, options& out) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--folder") {
            out.folder = value.back() == '/' ? value : value + "/";
        } else if (name == "--listen") {
            out.listen = value;
        } else if (name == "--port") {
            out.port = static_cast<std::uint16_t>(std::stoi(value));
        } else if (name == "--die-on-events") {
            out.die_on_events = std::stoi(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !out.folder.empty();
}

class standin {
public:
    explicit standin(int die_on_events) : die_on_events_(die_on_events) {}

    http_answer handle(const http_request& request) {
        std::string err;
        const Json body = Json::parse(request.body, err);
        if (request.method == "POST" && request.path == "/api/v1/discovery") return json_answer(discovery(body));
        if (request.method == "POST" && request.path == "/api/v1/events") return json_answer(events(body));
        http_answer answer;
        answer.status = 404;
        return answer;
    }

private:
    struct listed_device {
        std::string local_ips;
        std::string sys_info;
        std::string alias;
    };

    static http_answer json_answer(const Json& body) {
        http_answer answer;
        answer.body = body.dump();
        answer.chunked = false;
        answer.fields = {{"Content-Type", "application/json"}};
        return answer;
    }

    static void print(const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    Json discovery(const Json& body) {
        const std::string network = body["ssid"].string_value() + "\n" + body["bssid"].string_value();
        const std::string& id = body["device_id"].string_value();
        std::string ips;
        for (const Json& ip : body["local_ips"].array_items()) ips += (ips.empty() ? "" : "|") + ip.string_value();

        std::lock_guard<std::mutex> lock(mutex_);
        std::map<std::string, listed_device>& seen = networks_[network];
        Json::array others;
        for (const auto& [other_id, device] : seen) {
            if (other_id == id) continue;
            others.push_back(Json::object{{"device_id", other_id},
                                          {"local_ips", device.local_ips},
                                          {"sys_info", device.sys_info},
                                          {"device_alias", device.alias}});
        }
        if (!id.empty()) seen[id] = {ips, body["sys_info"].string_value(), body["device_alias"].string_value()};
        print("discovery " + id + " listed " + std::to_string(others.size()) + " " + ips);
        return Json::object{{"network_devices", std::move(others)}};
    }

    Json events(const Json& body) {
        std::lock_guard<std::mutex> lock(mutex_);
        const Json::array& received = body["events"].array_items();
        std::string line = "events " + std::to_string(received.size());
        for (const Json& event : received) line += " " + event["date_created"].string_value();
        print(line);
        if (die_on_events_ > 0 && ++events_requests_ == die_on_events_) {
            // Taken, never answered: the caller must offer these again.
            print("dying");
            _exit(3);
        }
        if (received.empty()) return Json::object{};
        return Json::object{{"latest_date", received.back()["date_created"]}};
    }

    std::mutex mutex_;
    std::map<std::string, std::map<std::string, listed_device>> networks_;  // guarded by mutex_
    int die_on_events_;
    int events_requests_ = 0;  // guarded by mutex_
};

}  // namespace

int main(int argc, char** argv) {
    options opts;
    if (!parse_options(argc, argv, opts)) {
        std::cerr << "usage: mesk_cloud_standin --folder DIR [--listen ADDRESS] [--port PORT] [--die-on-events N]\n";
        return 2;
    }
    std::error_code made;
    std::filesystem::create_directories(opts.folder, made);
    if (!ensure_certificate_in(opts.folder)) {
        std::cerr << "cannot make a certificate in " << opts.folder << "\n";
        return 1;
    }
    auto service = std::make_shared<standin>(opts.die_on_events);
    io_manager manager("cloud stand-in");
    http_server_config config;
    config.host = opts.listen;
    config.port = opts.port;
    config.tls = make_server_tls_context(opts.folder + certificate_file_name);
    config.handler = [service](const http_request& request) { return service->handle(request); };
    std::string error;
    const std::uint16_t port = start_http_server(manager, std::move(config), error);
    if (port == 0) {
        std::cerr << "cannot listen: " << error << "\n";
        return 1;
    }
    std::printf("listening %u\n", static_cast<unsigned>(port));
    std::fflush(stdout);
    for (std::string line; std::getline(std::cin, line);) {}
    manager.stop();
    return 0;
}
