// The file routes seen from the network: "/download/v1" gives a file to its receiver
// only, and the thumbnails the interface loads come from 127.0.0.1:45002, which no
// peer reaches.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/transfer_harness.h"
#include "tests/support/test_images.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FileRoutes : public ::testing::Test {
protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        const std::string why = TestNetwork::unavailable_reason();
        if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        net_ = std::make_unique<TestNetwork>(name.find("Hostile") != std::string::npos ? 3 : 2);
    }

    // Every device's mesk, each listing every other one.
    void meet(int count) {
        for (int i = 0; i < count; ++i) {
            sessions_.push_back(start_mesk_session(*net_, net_->device(i)));
            ASSERT_TRUE(sessions_.back());
            ids_.push_back(sessions_.back()->id());
        }
        for (int i = 0; i < count; ++i) {
            for (int j = 0; j < count; ++j) {
                if (i == j) continue;
                ASSERT_TRUE(sessions_[i]->lists({{ids_[j], net_->device(j).address}}, clock_type::now() + 30s));
            }
        }
    }

    // curl inside the device's namespace; the body goes to a file of the test. Returns
    // the status code ("000" when no answer came) and the body through `body`.
    std::string fetch(int from, std::vector<std::string> args, std::string* body = nullptr) {
        const std::string out = net_->device(from).root + "/fetched-" + std::to_string(fetches_++);
        std::vector<std::string> argv = {"/usr/bin/env", "curl", "-sk", "--max-time",  "20", "--connect-timeout", "5",
                                         "-o",           out,    "-w",  "%{http_code}"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string code = net_->run(net_->device(from), argv);
        while (!code.empty() && (code.back() == '\n' || code.back() == '\r')) code.pop_back();
        if (body) *body = read_all(out);
        return code;
    }
    std::string ask_download(int from, const Json& request, std::string* body) {
        return fetch(from,
                     {"-X", "POST", "-H", "Content-Type: text/plain", "--data-binary", request.dump(),
                      "https://" + net_->device(0).address + ":45001/download/v1"},
                     body);
    }

    std::unique_ptr<TestNetwork> net_;
    std::vector<std::unique_ptr<MeskSession>> sessions_;
    std::vector<std::string> ids_;
    int fetches_ = 0;
};

// A offers a file to B; C, a peer A knows well, asks for it in every way it can think of.
TEST_F(FileRoutes, AHostilePeerGetsNothingOfAFileOfferedToAnother) {
    const std::string path = pictures_folder(net_->device(0)) + "for b only.bin";
    write_random_file(path, 100000, 5);
    const std::string secret = read_all(path);
    meet(3);
    const auto offered = offer_files(*sessions_[0], ids_[1], {path});
    ASSERT_TRUE(offered);
    const std::string id = offered->file_ids.at("for b only.bin");
    ASSERT_FALSE(sessions_[1]->event("download_completed", 60s, file_is(id)).is_null());

    const struct {
        std::string what;
        Json request;
    } attempts[] = {
        {"the file itself", Json::object{{"file_id", id}, {"chat_id", offered->chat_id}, {"offset", "0"}}},
        {"from an offset", Json::object{{"file_id", id}, {"chat_id", offered->chat_id}, {"offset", "50000"}}},
        {"under another upload", Json::object{{"file_id", id}, {"chat_id", "x"}, {"offset", "0"}}},
        {"a traversal text as id",
         Json::object{{"file_id", "../../../../etc/passwd"}, {"chat_id", offered->chat_id}, {"offset", "0"}}},
        {"a traversal text as upload", Json::object{{"file_id", id}, {"chat_id", "../../.."}, {"offset", "0"}}},
        {"a storage path as id", Json::object{{"file_id", offered->chat["files"][0]["filepath"].string_value()},
                                              {"chat_id", offered->chat_id},
                                              {"offset", "0"}}},
    };
    for (const auto& attempt : attempts) {
        std::string body;
        EXPECT_EQ(ask_download(2, attempt.request, &body), "404") << attempt.what;
        EXPECT_TRUE(body.empty()) << attempt.what;
    }
    std::string body;
    EXPECT_EQ(fetch(2, {"https://" + net_->device(0).address + ":45001/thumbnail/v1/upload/" + id}, &body), "404");
    EXPECT_TRUE(body.empty());

    // The receiver past the end gets nothing either; from the start, the file.
    EXPECT_EQ(
        ask_download(1, Json::object{{"file_id", id}, {"chat_id", offered->chat_id}, {"offset", "100000"}}, &body),
        "200");
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(
        ask_download(1, Json::object{{"file_id", id}, {"chat_id", offered->chat_id}, {"offset", "99999999999"}}, &body),
        "200");
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(ask_download(1, Json::object{{"file_id", id}, {"chat_id", offered->chat_id}, {"offset", "99990"}}, &body),
              "200");
    EXPECT_EQ(body, secret.substr(99990));
}

// B's interface shows a received JPEG and a PNG it offers; the pictures come from its
// loopback server, which A cannot reach.
TEST_F(FileRoutes, TheInterfaceLoadsThumbnailsFromTheLoopbackServerOnly) {
    const std::string jpeg = pictures_folder(net_->device(0)) + "holiday.jpg";
    ASSERT_TRUE(write_test_image(jpeg, 1600, 1200));
    const std::string png = pictures_folder(net_->device(1)) + "drawing.png";
    ASSERT_TRUE(write_test_image(png, 900, 300));
    meet(2);

    const auto received = offer_files(*sessions_[0], ids_[1], {jpeg});
    ASSERT_TRUE(received);
    const std::string jpeg_id = received->file_ids.at("holiday.jpg");
    ASSERT_FALSE(sessions_[1]->event("download_completed", 60s, file_is(jpeg_id)).is_null());
    const auto offered = offer_files(*sessions_[1], ids_[0], {png});
    ASSERT_TRUE(offered);
    const std::string png_id = offered->file_ids.at("drawing.png");

    // The addresses the chats give the interface.
    const Json download_chat =
        sessions_[1]->request("/chat_info", Json(Json::object{{"id", received->chat_id}}).dump());
    const std::string jpeg_url = download_chat["files"][0]["thumbnail"].string_value();
    const std::string png_url = offered->chat["files"][0]["thumbnail"].string_value();
    EXPECT_EQ(jpeg_url, "http://127.0.0.1:45002/thumbnail/v1/download/" + jpeg_id);
    EXPECT_EQ(png_url, "http://127.0.0.1:45002/thumbnail/v1/upload/" + png_id);

    const struct {
        std::string url;
        std::pair<int, int> size;
    } pictures[] = {{jpeg_url, {400, 300}}, {png_url, {400, 133}}};
    for (const auto& picture : pictures) {
        std::string body;
        EXPECT_EQ(fetch(1, {picture.url}, &body), "200") << picture.url;
        EXPECT_EQ(picture_size(body), picture.size) << picture.url;
        // Made once: the second answer is the same picture.
        std::string again;
        fetch(1, {picture.url}, &again);
        EXPECT_EQ(again, body) << picture.url;
    }
    std::string body;
    EXPECT_EQ(fetch(1, {"http://127.0.0.1:45002/thumbnail/v1/download/nothing"}, &body), "404");

    // A peer reaches no loopback server; on 45001 the receiver of the PNG sees its picture.
    const std::string b = net_->device(1).address;
    EXPECT_EQ(fetch(0, {"http://" + b + ":45002/thumbnail/v1/upload/" + png_id}), "000");
    EXPECT_EQ(fetch(0, {"https://" + b + ":45001/thumbnail/v1/upload/" + png_id}, &body), "200");
    EXPECT_EQ(picture_size(body), std::make_pair(400, 133));
    EXPECT_EQ(fetch(0, {"https://" + b + ":45001/thumbnail/v1/download/" + jpeg_id}), "404");
}

}  // namespace
