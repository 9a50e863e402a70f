// The web share against a host with many addresses (150 IPv4 and 2,000 IPv6 link-local
// ones on one interface): guessing the code from all of them in turn, and holding and
// flooding WebSockets, while an honest browser on another host uses the page. The
// victim is a real mesk listening dual stack; the attacker runs on threads of this test
// moved into the attacker's namespace.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <iostream>
#include <map>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "core_lib/foundation/peer_limits.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"
#include "tests/e2e/transfer_harness.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

constexpr unsigned short web_port = 3456;
// The victim's own link-local address, beside the one the kernel gave it.
const std::string victim_link_local = "fe80::2:1";

// Runs `work` on a thread of its own inside the device's network namespace, to its end.
void in_namespace(const TestDevice& device, const std::function<void()>& work) {
    std::string failure;
    std::thread runner([&] {
        const int fd = ::open(("/run/netns/" + device.name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            failure = "cannot enter the namespace " + device.name;
            if (fd >= 0) ::close(fd);
            return;
        }
        ::close(fd);
        work();
    });
    runner.join();
    ASSERT_TRUE(failure.empty()) << failure;
}

// An address of the attacker's list as an endpoint: IPv6 link-local ones on eth0 (only
// valid inside the attacker's namespace).
net::ip::address endpoint_address(const std::string& text) {
    std::string bare = text;
    if (!bare.empty() && bare.front() == '[') bare = bare.substr(1, bare.size() - 2);
    net::ip::address address = net::ip::make_address(bare);
    if (address.is_v6()) {
        auto v6 = address.to_v6();
        v6.scope_id(::if_nametoindex("eth0"));
        address = v6;
    }
    return address;
}

// A connection from `source` to the victim's web share, over the victim address of the
// same family; false when it could not be made.
bool connect_from(tcp::socket& socket, const std::string& source, const std::string& victim_v4) {
    const net::ip::address from = endpoint_address(source);
    const net::ip::address to = endpoint_address(from.is_v6() ? victim_link_local : victim_v4);
    beast::error_code ec;
    socket.open(from.is_v6() ? tcp::v6() : tcp::v4(), ec);
    if (!ec) socket.bind(tcp::endpoint(from, 0), ec);
    if (!ec) socket.connect(tcp::endpoint(to, web_port), ec);
    return !ec;
}

class ManyAddressesWebShare : public NetworkFixture<3> {
protected:
    void SetUp() override {
        NetworkFixture<3>::SetUp();
        if (IsSkipped()) return;
        victim_ = std::make_unique<const TestDevice>(net_->device(0));
        attacker_ = std::make_unique<const TestDevice>(net_->device(1));
        browser_ = std::make_unique<const TestDevice>(net_->device(2));
        net_->run(*victim_, {"/usr/bin/env", "ip", "addr", "add", victim_link_local + "/64", "dev", "eth0", "nodad"});
        sources_ = net_->add_many_addresses(*attacker_, 150, 2000);
        mesk_ = start_mesk_session(*net_, *victim_);
        ASSERT_TRUE(mesk_);
        // A shared file, as the user picks it.
        shared_path_ = pictures_folder(*victim_) + "holiday.bin";
        write_random_file(shared_path_, std::uint64_t{64} * 1024, 7);
        mesk_->process().write_line(":pick-files " + shared_path_);
        ASSERT_FALSE(mesk_->event("shared_files_updated", 30s).is_null());
        const Json files = mesk_->request("/shared_files", "{}")["files"];
        ASSERT_EQ(files.array_items().size(), 1u) << files.dump();
        file_id_ = files[0]["id"].string_value();
        code_ = mesk_->request("/get_device_info", "{}")["webshare_password"].string_value();
        ASSERT_EQ(code_.size(), 4u);
        // The web share is on once the page answers.
        bool up = false;
        for (int i = 0; i < 100 && !up; ++i) {
            up = fetch("/http_mode_api/v1/hello_world") == "200";
            if (!up) std::this_thread::sleep_for(100ms);
        }
        ASSERT_TRUE(up) << "the web share did not answer";
    }

    std::string base() const { return "http://" + victim_->address + ":" + std::to_string(web_port); }

    // One fetch by the honest browser; its status code ("000" when none came).
    std::string fetch(const std::string& path, const std::vector<std::string>& extra = {},
                      std::string* body = nullptr) {
        std::vector<std::string> args = {"--max-time", "5"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(base() + path);
        std::string code;
        std::string answer = curl_on(*net_, *browser_, args, &code);
        if (body != nullptr) *body = std::move(answer);
        return code;
    }

    // The honest browser's fetches of the page, its API with the code and the file, over
    // and over until `done`; the statuses that were not 200, with their paths.
    std::vector<std::string> browse_until(const std::atomic<bool>& done, int* fetches) {
        std::vector<std::string> failed;
        const std::vector<std::string> with_code = {"-H", "x_mesk_web_mode_code: " + code_};
        const std::string file = "/file/v1/" + file_id_ + "?code=" + code_;
        while (!done) {
            for (const std::string& path : {std::string("/"), std::string("/http_mode_api/v1/files"), file}) {
                const std::string status = fetch(path, path == file ? std::vector<std::string>{} : with_code);
                ++*fetches;
                if (status != "200") failed.push_back(path + " " + status);
            }
        }
        return failed;
    }

    long victim_rss_kb() const { return process_status_value(mesk_->pid(), "VmRSS"); }

    std::unique_ptr<const TestDevice> victim_;
    std::unique_ptr<const TestDevice> attacker_;
    std::unique_ptr<const TestDevice> browser_;
    std::vector<std::string> sources_;
    std::unique_ptr<MeskSession> mesk_;
    std::string shared_path_;
    std::string file_id_;
    std::string code_;
};

TEST_F(ManyAddressesWebShare, EveryCodeTriedFromAllAddressesFindsNothing) {
    // The honest browser gave the code before the attack.
    std::string body;
    ASSERT_EQ(fetch("/file/v1/" + file_id_ + "?code=" + code_, {}, &body), "200");
    ASSERT_EQ(body.size(), 64u * 1024);

    std::map<unsigned, int> statuses;
    int tried = 0;
    std::atomic<bool> done{false};
    std::thread attack([&] {
        in_namespace(*attacker_, [&] {
            net::io_context io;
            const auto deadline = clock_type::now() + 120s;
            std::size_t turn = 0;
            // Every code once, five on each connection, each connection from the next
            // address: most from the IPv6 ones, as they are most.
            while (tried < 10000 && clock_type::now() < deadline) {
                tcp::socket socket(io);
                if (!connect_from(socket, sources_[turn++ % sources_.size()], victim_->address)) {
                    ++statuses[0];
                    continue;
                }
                beast::flat_buffer buffer;
                for (int k = 0; k < 5 && tried < 10000; ++k) {
                    std::string code = std::to_string(tried++);
                    code.insert(0, 4 - code.size(), '0');
                    http::request<http::empty_body> request{http::verb::get, "/file/v1/" + file_id_ + "?code=" + code,
                                                            11};
                    request.set(http::field::host, "victim");
                    beast::error_code ec;
                    http::write(socket, request, ec);
                    http::response<http::string_body> answer;
                    if (!ec) http::read(socket, buffer, answer, ec);
                    ++statuses[ec ? 0 : answer.result_int()];
                    if (ec || answer.need_eof()) break;
                }
            }
        });
        done = true;
    });
    int fetches = 0;
    const auto started = clock_type::now();
    const std::vector<std::string> failed = browse_until(done, &fetches);
    attack.join();
    // For the hostile-load bench.
    std::cout << "web-share guesses: " << tried << " codes from " << sources_.size() << " addresses in "
              << std::chrono::duration_cast<std::chrono::seconds>(clock_type::now() - started).count()
              << " s: " << statuses[200] << " accepted, " << statuses[401] << " wrong, " << statuses[429]
              << " refused, " << statuses[0] << " failed; honest fetches " << fetches - static_cast<int>(failed.size())
              << "/" << fetches << " answered, victim RSS " << victim_rss_kb() / 1024 << " MB\n";

    EXPECT_EQ(tried, 10000) << "the attack did not get through its codes in time";
    EXPECT_EQ(statuses[200], 0) << "the code was found and a shared file read";
    EXPECT_GT(statuses[429], 9000) << "most guesses are refused without being compared";
    EXPECT_FALSE(mesk_->event("web_share_locked", 5s).is_null()) << "the interface is told";
    // The page that had given the code kept working through the lock-down.
    EXPECT_TRUE(failed.empty()) << failed.size() << " of " << fetches << " honest fetches failed, first "
                                << failed.front();
    EXPECT_LT(victim_rss_kb(), 200 * 1024);
}

TEST_F(ManyAddressesWebShare, HeldAndFloodingWebSocketsLeaveThePageToOthers) {
    std::atomic<bool> done{false};
    int held = 0;
    int refused = 0;
    int closed_by_flood = 0;
    std::thread attack([&] {
        in_namespace(*attacker_, [&] {
            net::io_context io;
            std::vector<std::unique_ptr<websocket::stream<tcp::socket>>> pages;
            for (std::size_t i = 0; i < 512; ++i) {
                auto page = std::make_unique<websocket::stream<tcp::socket>>(io);
                if (!connect_from(page->next_layer(), sources_[i % sources_.size()], victim_->address)) {
                    ++refused;
                    continue;
                }
                beast::error_code ec;
                page->handshake("victim", "/", ec);
                if (ec) {
                    ++refused;
                    continue;
                }
                pages.push_back(std::move(page));
            }
            held = static_cast<int>(pages.size());
            // Held a while, then flooded with small frames until the victim closes them.
            std::this_thread::sleep_for(3s);
            std::vector<bool> open(pages.size(), true);
            int still_open = held;
            const std::string frame(16, 'x');
            const auto deadline = clock_type::now() + 20s;
            while (still_open > 0 && clock_type::now() < deadline) {
                for (std::size_t i = 0; i < pages.size(); ++i) {
                    if (!open[i]) continue;
                    beast::error_code ec;
                    pages[i]->write(net::buffer(frame), ec);
                    if (ec) {
                        open[i] = false;
                        --still_open;
                    }
                }
            }
            closed_by_flood = held - still_open;
        });
        done = true;
    });
    int fetches = 0;
    const std::vector<std::string> failed = browse_until(done, &fetches);
    attack.join();
    std::cout << "web-share websockets: " << held << " of 512 held, " << refused << " refused, " << closed_by_flood
              << " closed by the victim during the flood; honest fetches " << fetches - static_cast<int>(failed.size())
              << "/" << fetches << " answered, victim RSS " << victim_rss_kb() / 1024 << " MB\n";

    EXPECT_GT(held, 0);
    EXPECT_LE(held, static_cast<int>(vandrel::limits::web_pages));
    EXPECT_EQ(held + refused, 512);
    EXPECT_EQ(closed_by_flood, held) << "every flooding page is closed";
    EXPECT_GT(fetches, 0);
    EXPECT_TRUE(failed.empty()) << failed.size() << " of " << fetches << " honest fetches failed, first "
                                << failed.front();
    EXPECT_EQ(fetch("/"), "200") << "answered after the attack";
    EXPECT_LT(victim_rss_kb(), 200 * 1024);
}

}  // namespace
