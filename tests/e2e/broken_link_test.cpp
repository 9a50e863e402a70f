// Transfers over a link that breaks: taken down and up again in the middle of a file,
// dropping packets at random, or slow and lossy as netem makes it. Each file arrives
// whole and byte for byte, by itself or after the sender's next resend pass; a receiver
// that gives up on a file says so with a word of the download client's ("timed out"
// after 30 s without data, the connection closed or not made).
//
// The long form (larger files, longer outages) is bench/broken_links.sh, which sets
// MESK_LINK_FILE_MIB and MESK_LINK_OUTAGE_S; each test prints one "link:" line.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"
#include "tests/e2e/transfer_harness.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

std::uint64_t setting(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::stoull(text) : fallback;
}

// Words a receiver may end a file with when the link under it breaks.
const std::set<std::string> link_failures = {"timed out", "connection_closed", "could_not_connect",
                                             "DEVICE_NOT_CONNECTED"};

struct delivery {
    bool completed = false;
    std::vector<std::string> errors;  // each "download_error" on the way, in order
    double seconds = 0;
};

class BrokenLink : public NetworkFixture<2> {
protected:
    void meet() {
        sessions_ = start_and_meet(*net_, 2);
        ASSERT_EQ(sessions_.size(), 2u) << "the devices did not meet";
    }

    // Offers a file of `size` random bytes from A to B; its id.
    std::string offer_file(const std::string& name, std::uint64_t size, std::uint64_t seed) {
        sha_ = write_random_file(pictures_folder(sender()) + name, size, seed);
        const auto offered = offer_files(a(), b().id(), {pictures_folder(sender()) + name});
        if (!offered) return "";
        chat_id_ = offered->chat_id;
        return offered->file_ids.at(name);
    }

    // A's next resend pass, once the two know each other's address again.
    bool resend(clock_type::time_point deadline) {
        if (!a().lists({{b().id(), receiver().address}}, deadline)) return false;
        const Json resent = a().request("/resend", Json(Json::object{{"id", chat_id_}}).dump());
        return resent["status"].string_value() == "success";
    }

    // Waits until B has the file; each time B gives up on it first (`given_up`: it did
    // already), A resends. At most `resends` passes, all within `limit`.
    delivery deliver(const std::string& id, std::chrono::seconds limit, const std::string& given_up = "",
                     int resends = 2) {
        delivery result;
        const auto start = clock_type::now();
        const auto deadline = start + limit;
        if (!given_up.empty()) {
            result.errors.push_back(given_up);
            if (!resend(deadline)) return result;
        }
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
            const auto line = b().take_line(
                [&](const std::string& l) {
                    if (l.rfind("event ", 0) != 0) return false;
                    const Json e = parse_json(l.substr(6));
                    const std::string action = e["action"].string_value();
                    return (action == "download_completed" || action == "download_error") &&
                           e["file_id"].string_value() == id;
                },
                std::max(left, 0ms));
            if (!line) break;
            const Json e = parse_json(line->substr(6));
            if (e["action"].string_value() == "download_completed") {
                result.completed = true;
                break;
            }
            result.errors.push_back(e["error"].string_value());
            if (static_cast<int>(result.errors.size()) > resends || !resend(deadline)) break;
        }
        result.seconds = std::chrono::duration<double>(clock_type::now() - start).count();
        return result;
    }

    // The file is whole at B, nothing temporary is left, every error said why, and B's
    // last progress record of the file showed all of it.
    void expect_whole(const std::string& name, const std::string& id, std::uint64_t size, const delivery& got) {
        EXPECT_TRUE(got.completed) << "the file did not arrive";
        for (const std::string& error : got.errors) EXPECT_TRUE(link_failures.count(error)) << error;
        Json last;
        for (const Json& e : b().events_within("update_bytes_transferred", 0ms))
            if (e["file_id"].string_value() == id) last = e;
        EXPECT_EQ(last["bytes_transferred"].string_value(), std::to_string(size)) << last.dump();
        EXPECT_EQ(last["total_bytes"].string_value(), std::to_string(size)) << last.dump();
        EXPECT_EQ(file_sha256(downloads_folder(receiver()) + name), sha_);
        EXPECT_TRUE(temporary_files(downloads_folder(receiver())).empty());
    }

    static std::string listed(const std::vector<std::string>& errors) {
        std::string text;
        for (const std::string& e : errors) text += (text.empty() ? "" : ", ") + e;
        return "[" + text + "]";
    }

    MeskSession& a() { return *sessions_.at(0); }
    MeskSession& b() { return *sessions_.at(1); }
    const TestDevice& sender() const { return net_->device(0); }
    const TestDevice& receiver() const { return net_->device(1); }

    std::vector<std::unique_ptr<MeskSession>> sessions_;
    std::string sha_;
    std::string chat_id_;
};

// Shorter than the 30 s without data that ends a file, the outage is ridden out by the
// connection itself; a longer one (the long form) ends the file as "timed out" and the
// resend pass fetches the rest.
TEST_F(BrokenLink, ALinkDownAndUpInTheMiddleOfAFile) {
    const std::uint64_t size = setting("MESK_LINK_FILE_MIB", 24) << 20;
    const auto outage = std::chrono::seconds(setting("MESK_LINK_OUTAGE_S", 5));
    meet();
    limit_rate(*net_, sender(), "40mbit");
    const std::string name = "across an outage.bin";
    const std::string id = offer_file(name, size, 21);
    ASSERT_FALSE(id.empty());
    const std::string temporary = partial_file(downloads_folder(receiver()), id);
    ASSERT_TRUE(wait_for_size(temporary, size / 5, 60s)) << "the transfer did not get going";

    set_link(*net_, sender(), false);
    const auto down_at = clock_type::now();
    const std::uint64_t held = file_size(temporary).value_or(0);
    // B gives the file up during the outage only when it outlasts the time without data.
    const Json gave_up = b().event("download_error", outage, file_is(id));
    const double gave_up_after = std::chrono::duration<double>(clock_type::now() - down_at).count();
    std::this_thread::sleep_until(down_at + outage);
    set_link(*net_, sender(), true);
    limit_rate(*net_, sender(), "");
    EXPECT_LT(held, size) << "the file was whole before the link went down";

    const delivery got = deliver(id, 180s, gave_up["error"].string_value());
    std::cout << "link: down " << outage.count() << " s during " << (size >> 20) << " MiB: "
              << (gave_up.is_null() ? "" : "given up after " + std::to_string(gave_up_after) + " s without data, ")
              << (got.completed ? "complete " : "incomplete ") << got.seconds << " s after the link came back, errors "
              << listed(got.errors) << std::endl;
    expect_whole(name, id, size, got);
    if (outage > 35s) {
        // 30 s without data: "timed out", then the resend pass fetched the rest.
        ASSERT_FALSE(gave_up.is_null()) << "B never gave the file up";
        EXPECT_EQ(gave_up["error"].string_value(), "timed out");
        EXPECT_GE(gave_up_after, 29.0);
        EXPECT_LE(gave_up_after, 35.0);
    } else if (outage < 20s) {
        EXPECT_TRUE(got.errors.empty()) << "a short outage ended the file: " << listed(got.errors);
    }
}

// 5% of the packets lost on the link, both ways, drawn at random by the bridge.
TEST_F(BrokenLink, FivePercentOfThePacketsLost) {
    const std::string why = TestNetwork::filter_unavailable_reason();
    if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
    const std::uint64_t size = setting("MESK_LINK_FILE_MIB", 4) << 20;
    meet();
    net_->lose_packets(5);
    const std::string name = "lossy.bin";
    const std::string id = offer_file(name, size, 22);
    ASSERT_FALSE(id.empty());
    const delivery got = deliver(id, 240s);
    const std::uint64_t lost = net_->lost_packets();
    net_->lose_packets(0);
    std::cout << "link: 5% loss during " << (size >> 20) << " MiB: " << (got.completed ? "complete" : "incomplete")
              << " after " << got.seconds << " s, " << lost << " packets lost, errors " << listed(got.errors)
              << std::endl;
    EXPECT_GT(lost, 0u) << "nothing was lost";
    expect_whole(name, id, size, got);
}

// What tc's netem makes of a poor link: each packet delayed 200 ms and 5% lost, on
// each side's way out.
TEST_F(BrokenLink, FivePercentLossAndTwoHundredMillisecondsOfDelay) {
    const std::string why = netem_unavailable_reason();
    if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
    const std::uint64_t size = setting("MESK_LINK_FILE_MIB", 0) << 20;
    meet();
    impair_link(*net_, sender(), "delay 200ms loss 5%");
    impair_link(*net_, receiver(), "delay 200ms loss 5%");
    const std::string name = "slow and lossy.bin";
    const std::uint64_t bytes = size > 0 ? size : 512u << 10;
    const std::string id = offer_file(name, bytes, 23);
    ASSERT_FALSE(id.empty());
    const delivery got = deliver(id, 300s);
    impair_link(*net_, sender(), "");
    impair_link(*net_, receiver(), "");
    std::cout << "link: netem delay 200ms loss 5% during " << bytes / 1024
              << " KiB: " << (got.completed ? "complete" : "incomplete") << " after " << got.seconds << " s, errors "
              << listed(got.errors) << std::endl;
    expect_whole(name, id, bytes, got);
}

}  // namespace
