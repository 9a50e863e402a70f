#include "core_lib/net/transfer/download_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/foundation/file_names.h"
#include "core_lib/foundation/json.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_api.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/net/peers/public_key.h"
#include "core_lib/net/transfer/download_queue.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/peer_addresses.h"
#include "core_lib/store/settings.h"
#include "tests/support/file_platform.h"
#include "tests/support/net_test_support.h"
#include "tests/support/stub_peer.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using testing::wait_until;

const std::string a_id = "peer-a";
const std::string a_address = "127.0.0.2";
// A second sender, whose id sorts before A's.
const std::string z_id = "peer-0";
const std::string z_address = "127.0.0.3";
const std::string download_path = "/download/v1";

std::string patterned(std::size_t size, char salt = 0) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251 + salt) % 26);
    return bytes;
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Json parse(const std::string& text) {
    std::string err;
    return Json::parse(text, err);
}

net_config quick_timeouts() {
    net_config config = testing::loopback_config();
    config.download_timeout = 1500ms;
    config.download_min_rate = std::uint64_t{64} << 10;
    return config;
}

// The file platform, with a look at each download target the client asks for.
class watched_platform : public testing::file_platform {
public:
    using file_platform::file_platform;
    std::function<void(const std::string&)> on_target;
    std::string download_target_for_file(const std::string& file_name) override {
        if (on_target) on_target(file_name);
        return file_platform::download_target_for_file(file_name);
    }
};

// The rest of a body, `piece` bytes every `every` until it is all sent or released.
class drip_source : public body_source {
public:
    drip_source(std::string rest, std::size_t piece, std::chrono::milliseconds every, const bool& released,
                std::mutex& mutex)
        : rest_(std::move(rest)), piece_(piece), every_(every), released_(released), mutex_(mutex) {}
    step next_piece(std::string& piece) override {
        std::this_thread::sleep_for(every_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (released_) return step::abort;
        }
        piece = rest_.substr(0, piece_);
        rest_.erase(0, piece.size());
        return piece.empty() ? step::end : step::piece;
    }

private:
    std::string rest_;
    std::size_t piece_;
    std::chrono::milliseconds every_;
    const bool& released_;
    std::mutex& mutex_;
};

// Peer A on 127.0.0.2 and peer 0 on 127.0.0.3 (each proven by the test certificate's key)
// offer files to this device, which downloads them into the platform's "received"
// folder. They answer "/download/v1" from the bytes the test gives each file id, in the
// way the test chooses.
class DownloadClient : public ::testing::Test {
protected:
    // drip: 16 KiB every 400 ms, below the least rate; trickle: 16 KiB every 100 ms, above
    // it. Each piece comes well within the time without data.
    enum class way { whole, not_found, paused, server_error, short_body, long_body, stall, cut, drip, trickle };

    void SetUp() override {
        const auto previous = platform_services();
        files = std::make_shared<watched_platform>(store.root() + "/files");
        files->set_data_folder(previous->get_data_folder_path());
        files->set_local_folder(previous->get_local_folder_path());
        install_platform_services(files);
        received = files->received_folder();
        own = get_userid();
        stubs = testing::start_stub_peers({{a_address, a_id, ""}, {z_address, z_id, ""}});
        ASSERT_EQ(stubs.size(), 2u);
        a = stubs[0].get();
        z = stubs[1].get();
        set_peer_api_port(a->port());
        for (const auto& [id, address] : {std::pair{a_id, a_address}, std::pair{z_id, z_address}}) {
            db_upsert_device(id, "stub/os", "Ay", address);
            db_set_device_key(id, certificate_key_sha256(test::test_certificate_path()));
            set_peer_ip(id, address);
        }
        for (testing::stub_peer* peer : {a, z})
            peer->answer_with(download_path, [this](const http_request& request) { return answer(request); });
    }

    void TearDown() override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            released = true;
        }
        release.notify_all();
        services.net().stop();
        stubs.clear();
    }

    http_answer answer(const http_request& request) {
        const Json body = parse(request.body);
        std::uint64_t offset = 0;
        const std::string& text = body["offset"].string_value();
        std::from_chars(text.data(), text.data() + text.size(), offset);
        std::unique_lock<std::mutex> lock(mutex);
        const std::string bytes = offered[body["file_id"].string_value()];
        const way how = ways.count(body["file_id"].string_value()) ? ways[body["file_id"].string_value()] : way::whole;
        http_answer out;
        const std::string rest = offset < bytes.size() ? bytes.substr(offset) : std::string();
        switch (how) {
            case way::whole:
                out.body = rest;
                break;
            case way::not_found:
                out.status = 404;
                break;
            case way::paused:
                out.status = 403;
                break;
            case way::server_error:
                out.status = 500;
                out.body = rest;
                break;
            case way::short_body:
                out.body = rest.substr(0, rest.size() / 2);
                break;
            case way::long_body:
                out.body = rest + "and more";
                break;
            case way::stall:
                release.wait_for(lock, 20s, [this] { return released; });
                out.body = rest;
                break;
            case way::cut: {
                out = testing::cut_answer();
                out.body = rest.substr(0, 100);
                out.content_length = rest.size();
                break;
            }
            case way::drip:
            case way::trickle: {
                constexpr std::size_t piece = 16384;
                out.body = rest.substr(0, piece);
                out.rest = std::make_shared<drip_source>(rest.substr(out.body.size()), piece,
                                                         how == way::drip ? 400ms : 100ms, released, mutex);
                out.close = true;
                break;
            }
        }
        return out;
    }

    // A file that A offers in download `download`, answered the given way.
    void offer(const std::string& download, const std::string& id, const std::string& name, const std::string& bytes,
               way how = way::whole) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            offered[id] = bytes;
            ways[id] = how;
        }
        pending_files[download].push_back(Json::object{{"id", id},
                                                       {"filename", name},
                                                       {"filesize", std::to_string(bytes.size())},
                                                       {"fileurl", "received||" + name}});
    }
    void set_way(const std::string& id, way how) {
        std::lock_guard<std::mutex> lock(mutex);
        ways[id] = how;
    }
    // Stores the offered files as downloads (queued, from A unless the test named another
    // sender for the download) and runs the download thread.
    void start() {
        for (const auto& [download, list] : pending_files) {
            const std::string sender = senders.count(download) ? senders[download] : a_id;
            ASSERT_TRUE(db_store_download(list, "", download, sender, own));
        }
        pending_files.clear();
        if (!running) start_download_thread();
        running = true;
    }

    std::string status(const std::string& id) {
        return store.text("select status from files_to_receive where id = '" + id + "'");
    }
    bool ends_as(const std::string& id, const std::string& wanted) {
        return wait_until([&] { return status(id) == wanted; }, 20s);
    }
    std::vector<Json> events(const std::string& action, const std::string& file_id = "") {
        std::vector<Json> found;
        for (const Json& e : store.ui().events()) {
            if (e["action"].string_value() == action && (file_id.empty() || e["file_id"].string_value() == file_id))
                found.push_back(e);
        }
        return found;
    }
    std::vector<std::string> requested_offsets(const std::string& id) {
        std::vector<std::string> offsets;
        for (const auto& r : a->received(download_path)) {
            const Json body = parse(r.body);
            if (body["file_id"].string_value() == id) offsets.push_back(body["offset"].string_value());
        }
        return offsets;
    }
    void put(const std::string& name, const std::string& bytes) const {
        std::filesystem::create_directories(std::filesystem::path(received + name).parent_path());
        std::ofstream(received + name, std::ios::binary) << bytes;
    }
    static std::string partial(const std::string& id) { return std::string(".mesk_partial/") + partial_file_name(id); }
    bool exists(const std::string& name) const { return std::filesystem::exists(received + name); }

    testing::temp_store store;
    testing::temp_services services{quick_timeouts()};
    std::shared_ptr<watched_platform> files;
    std::string received;
    std::string own;
    std::vector<std::unique_ptr<testing::stub_peer>> stubs;
    testing::stub_peer* a = nullptr;
    testing::stub_peer* z = nullptr;
    std::map<std::string, std::string> senders;  // download id -> sender, when not A
    std::mutex mutex;
    std::condition_variable release;
    bool released = false;
    std::map<std::string, std::string> offered;
    std::map<std::string, way> ways;
    std::map<std::string, std::vector<Json>> pending_files;
    bool running = false;
};

TEST_F(DownloadClient, FetchesEachFileIntoItsPartialFileAndPutsItInPlace) {
    const std::string big = patterned(100000);
    offer("down-1", "f-big", "big file.bin", big);
    offer("down-1", "f-one", "one.txt", "1");
    offer("down-1", "f-empty", "empty.txt", "");
    start();
    for (const char* id : {"f-big", "f-one", "f-empty"}) ASSERT_TRUE(ends_as(id, "complete")) << id;
    EXPECT_EQ(read_all(received + "big file.bin"), big);
    EXPECT_EQ(read_all(received + "one.txt"), "1");
    EXPECT_TRUE(exists("empty.txt")) << "an empty file is a file too";
    EXPECT_TRUE(std::filesystem::is_empty(received + ".mesk_partial")) << "no partial file is left";

    const std::vector<Json> completed = events("download_completed", "f-big");
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(
        completed[0].dump(),
        R"({"action": "download_completed", "chat_id": "down-1", "file_id": "f-big", "filepath": "big file.bin"})");
    const std::vector<Json> progress = events("update_bytes_transferred", "f-big");
    ASSERT_GE(progress.size(), 2u);
    const Json& last = progress.back();
    EXPECT_EQ(last["bytes_transferred"].string_value(), "100000");
    EXPECT_EQ(last["total_bytes"].string_value(), "100000");
    EXPECT_EQ(last["device"].string_value(), a_id);
    EXPECT_EQ(last["filepath"].string_value(), "big file.bin");
    EXPECT_EQ(last["other_files"]["number_of_files"].string_value(), "3");
    EXPECT_EQ(store.text("select bytes_transferred from files_to_receive where id = 'f-big'"), "100000");
    EXPECT_TRUE(events("download_error").empty());
}

TEST_F(DownloadClient, ResumesOnlyWhatWasBegunForThisFileId) {
    const std::string bytes = patterned(4000);
    const std::string long_name = std::string(176, 'n') + ".bin";
    struct resume_case {
        std::string id;
        std::string name;
        std::string left;  // a file left in the received folder before
        std::string held;  // what it holds
        std::string offset;
    };
    const resume_case cases[] = {
        {"f-part", "part.bin", partial("f-part"), bytes.substr(0, 1000), "1000"},
        {"f-long", long_name, partial("f-long"), bytes.substr(0, 700), "700"},
        {"f-larger", "larger.bin", partial("f-larger"), std::string(5000, 'x'), "0"},
        // Another transfer's partial file, and a received file under the name earlier
        // versions gave a partial file: neither is any part of this one, and both stay.
        {"f-other", "other.bin", partial("f-someone-else"), std::string(1000, 'x'), "0"},
        {"f-named", "named.bin", "named.bin.tmp.bin", std::string(1000, 'x'), "0"},
    };
    for (const auto& c : cases) {
        put(c.left, c.held);
        offer("down-1", c.id, c.name, bytes);
    }
    start();
    for (const auto& c : cases) {
        ASSERT_TRUE(ends_as(c.id, "complete")) << c.id;
        EXPECT_EQ(requested_offsets(c.id), std::vector<std::string>{c.offset}) << c.id;
        EXPECT_EQ(read_all(received + c.name), bytes) << c.id;
        EXPECT_FALSE(exists(partial(c.id))) << c.id;
    }
    EXPECT_EQ(read_all(received + partial("f-someone-else")), std::string(1000, 'x'));
    EXPECT_EQ(read_all(received + "named.bin.tmp.bin"), std::string(1000, 'x'));
    // The first record already counts what was there.
    EXPECT_EQ(events("update_bytes_transferred", "f-part").front()["bytes_transferred"].string_value(), "4000");
}

TEST_F(DownloadClient, AFileInTheWayStaysAndTheNewOneIsFetchedUnderABackupName) {
    put("photo.jpg", std::string(2000, 'o'));
    put("same.bin", "SAME");  // the same name and size as the one offered, other bytes
    offer("down-1", "f-photo", "photo.jpg", patterned(4000));
    offer("down-1", "f-same", "same.bin", "abcd");
    offer("down-1", "f-sub", "trip/one/README.txt", "one");
    offer("down-1", "f-sub2", "trip/two/README.txt", "two");
    start();
    for (const char* id : {"f-photo", "f-same", "f-sub", "f-sub2"}) ASSERT_TRUE(ends_as(id, "complete")) << id;
    EXPECT_EQ(read_all(received + "photo.jpg"), std::string(2000, 'o'));
    EXPECT_EQ(read_all(received + "photo.jpg.mesk_backup_4000.jpg"), patterned(4000));
    EXPECT_EQ(read_all(received + "same.bin"), "SAME");
    EXPECT_EQ(requested_offsets("f-same"), std::vector<std::string>{"0"}) << "fetched, not taken as received";
    EXPECT_EQ(read_all(received + "same.bin.mesk_backup_4.bin"), "abcd");
    EXPECT_EQ(store.text("select fileurl from files_to_receive where id = 'f-same'"),
              "received||same.bin.mesk_backup_4.bin");
    EXPECT_EQ(read_all(received + "trip/one/README.txt"), "one");
    EXPECT_EQ(read_all(received + "trip/two/README.txt"), "two");
    EXPECT_EQ(store.text("select fileurl from files_to_receive where id = 'f-sub2'"), "received|trip/two|README.txt");
    EXPECT_EQ(events("download_completed").size(), 4u);
}

TEST_F(DownloadClient, EachFailureEndsItsFileWithItsWordAndTheQueueGoesOn) {
    const std::string bytes = patterned(50000);
    const struct {
        std::string id;
        way how;
        std::string word;
        std::size_t kept;  // at most so many bytes the temporary file keeps for a later attempt
    } cases[] = {
        {"f-404", way::not_found, "remote_file_not_found", 0},
        {"f-403", way::paused, "remote_file_paused", 0},
        {"f-500", way::server_error, "connection_closed", 0},
        {"f-short", way::short_body, "connection_closed", 25000},  // all of the half that came
        {"f-cut", way::cut, "connection_closed", 100},
    };
    for (const auto& c : cases) offer("down-1", c.id, c.id + ".bin", bytes, c.how);
    offer("down-1", "f-good", "good.bin", bytes);
    start();
    for (const auto& c : cases) {
        ASSERT_TRUE(ends_as(c.id, "error")) << c.id;
        ASSERT_TRUE(wait_until([&] { return !events("download_error", c.id).empty(); })) << c.id;
        const std::vector<Json> errors = events("download_error", c.id);
        ASSERT_EQ(errors.size(), 1u) << c.id;
        EXPECT_EQ(errors[0].dump(), R"({"action": "download_error", "chat_id": "down-1", "error": ")" + c.word +
                                        R"(", "file_id": ")" + c.id + R"("})");
        const std::string kept = read_all(received + partial(c.id));
        EXPECT_LE(kept.size(), c.kept) << c.id;
        EXPECT_EQ(kept, bytes.substr(0, kept.size())) << c.id;
        EXPECT_FALSE(exists(c.id + ".bin")) << c.id;
    }
    ASSERT_TRUE(ends_as("f-good", "complete"));

    // Queued again, a cut file goes on from what it kept.
    set_way("f-short", way::whole);
    queue_download("f-short", "down-1");
    ASSERT_TRUE(ends_as("f-short", "complete"));
    EXPECT_EQ(requested_offsets("f-short"), (std::vector<std::string>{"0", "25000"}));
    EXPECT_EQ(read_all(received + "f-short.bin"), bytes);
}

TEST_F(DownloadClient, NothingPastTheAnnouncedSizeIsWritten) {
    offer("down-1", "f-long", "long.bin", "exact", way::long_body);
    start();
    ASSERT_TRUE(ends_as("f-long", "complete"));
    EXPECT_EQ(read_all(received + "long.bin"), "exact");
}

TEST_F(DownloadClient, ASilentSenderTimesOutAndTheNextFileRuns) {
    offer("down-1", "f-silent", "silent.bin", patterned(3000), way::stall);
    start();
    ASSERT_TRUE(wait_until([&] { return requested_offsets("f-silent").size() == 1; }));
    offer("down-2", "f-next", "next.bin", "next");
    start();
    ASSERT_TRUE(wait_until([&] { return !events("download_error", "f-silent").empty(); }));
    EXPECT_EQ(status("f-silent"), "error");
    EXPECT_EQ(events("download_error", "f-silent")[0]["error"].string_value(), "timed out");
    ASSERT_TRUE(ends_as("f-next", "complete"));
    // Its late answer reaches no file.
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
    }
    release.notify_all();
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(exists("silent.bin"));
    EXPECT_EQ(read_all(received + "next.bin"), "next");
}

TEST_F(DownloadClient, AStopEndsTheRunningFileAndStopsTheRestOfItsDownload) {
    offer("down-1", "f-first", "first.bin", patterned(3000), way::stall);
    offer("down-1", "f-second", "second.bin", "second", way::stall);
    start();
    ASSERT_TRUE(wait_until([&] { return !a->received(download_path).empty(); }));
    const std::string first = parse(a->received(download_path).front().body)["file_id"].string_value();
    const std::string other = first == "f-first" ? "f-second" : "f-first";
    set_way(other, way::stall);
    stop_download("down-1");
    ASSERT_TRUE(wait_until([&] { return !events("download_error", first).empty(); }));
    EXPECT_EQ(status(first), "error");
    EXPECT_EQ(events("download_error", first).at(0)["error"].string_value(), "stopped_by_user");
    EXPECT_EQ(status(other), "stopped");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(a->count(download_path), 1u) << "a stopped file is not fetched";
    EXPECT_TRUE(stopped_download_id().ids().empty()) << "the stop was taken";
}

TEST_F(DownloadClient, AFileThatCannotTakeItsNameStaysInItsPartialFile) {
    put("taken", "a file where a folder should be");
    offer("down-1", "f-taken", "taken/x.bin", "content");
    start();
    ASSERT_TRUE(ends_as("f-taken", "error"));
    EXPECT_EQ(read_all(received + partial("f-taken")), "content");
    const auto toasts = files->toasts();
    EXPECT_NE(std::find(toasts.begin(), toasts.end(),
                        std::make_pair(std::string("rename error"), std::string("taken/x.bin"))),
              toasts.end());
    EXPECT_TRUE(events("download_completed").empty());
}

TEST_F(DownloadClient, OnlyTheSendersOwnServerIsFetchedFrom) {
    db_set_device_key(a_id, std::string(64, '0'));
    offer("down-1", "f-a", "a.bin", "bytes");
    start();
    ASSERT_TRUE(wait_until([&] { return !events("download_error", "f-a").empty(); }));
    EXPECT_EQ(status("f-a"), "error");
    EXPECT_EQ(events("download_error", "f-a").at(0)["error"].string_value(), "could_not_connect");
    EXPECT_TRUE(get_peer_ip(a_id).empty()) << "the address is forgotten";
    EXPECT_EQ(a->count(download_path), 0u);
}

TEST_F(DownloadClient, ASenderThatNeverTakesTheConnectionIsUnreachable) {
    // A listener whose one place in its queue is taken: further connections hang.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(a->port());
    at.sin_addr.s_addr = htonl(0x7F000004);  // 127.0.0.4
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        (void)::connect(filler, reinterpret_cast<sockaddr*>(&at), sizeof at);  // in progress, or queued
        fillers.push_back(filler);
    }
    set_peer_ip(a_id, "127.0.0.4");
    offer("down-1", "f-a", "a.bin", "bytes");
    start();
    ASSERT_TRUE(wait_until([&] { return !events("download_error", "f-a").empty(); }));
    EXPECT_EQ(events("download_error", "f-a").at(0)["error"].string_value(), "could_not_connect");
    EXPECT_TRUE(get_peer_ip(a_id).empty());
    for (int fd : fillers) ::close(fd);
    ::close(listener);
}

TEST_F(DownloadClient, FilesOfASenderNotInTheDirectoryWait) {
    forget_peer_ip(a_id);
    offer("down-1", "f-a", "a.bin", "bytes");
    start();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(status("f-a"), "queued");
    EXPECT_EQ(a->count(download_path), 0u);
    // Seen again: its files are fetched at once, not at the next idle look.
    peer_seen(a_id, a_address);
    ASSERT_TRUE(wait_until([&] { return status("f-a") == "complete"; }, 5s));
}

TEST_F(DownloadClient, WithoutADownloadFolderTheFileFailsWithTheWordForIt) {
    files->set_download_folder(false);
    offer("down-1", "f-a", "a.bin", "bytes");
    start();
    ASSERT_TRUE(wait_until([&] { return !events("download_error", "f-a").empty(); }));
    EXPECT_EQ(status("f-a"), "error");
    EXPECT_EQ(events("download_error", "f-a").at(0)["error"].string_value(),
              "You have not selected a download folder. Restart the app.");
}

TEST_F(DownloadClient, SendersMoveSideBySideAndEachSendersFilesInTurn) {
    const std::string slow = patterned(800000);
    offer("down-a", "f-slow", "slow.bin", slow, way::trickle);
    start();
    ASSERT_TRUE(wait_until([&] { return requested_offsets("f-slow").size() == 1; }));
    // Another sender's file, and A's next one, come while A's first is still moving.
    senders["down-z"] = z_id;
    offer("down-z", "f-z", "z.bin", "from z");
    offer("down-a2", "f-a2", "a2.bin", "after the slow one");
    start();
    ASSERT_TRUE(ends_as("f-z", "complete"));
    EXPECT_EQ(status("f-slow"), "queued") << "A's file is still moving";
    EXPECT_TRUE(requested_offsets("f-a2").empty()) << "one file at a time from each sender";
    ASSERT_TRUE(ends_as("f-slow", "complete"));
    ASSERT_TRUE(ends_as("f-a2", "complete"));
    EXPECT_EQ(read_all(received + "slow.bin"), slow);
    EXPECT_EQ(read_all(received + "z.bin"), "from z");
    EXPECT_TRUE(events("download_error").empty());
}

TEST_F(DownloadClient, ASenderBelowTheLeastRateIsGivenUpLikeAStalledOne) {
    offer("down-1", "f-drip", "drip.bin", patterned(800000), way::drip);
    start();
    ASSERT_TRUE(wait_until([&] { return !events("download_error", "f-drip").empty(); }));
    EXPECT_EQ(events("download_error", "f-drip").at(0)["error"].string_value(), "timed out");
    EXPECT_EQ(status("f-drip"), "error");
    // What came is kept for the next attempt.
    const std::string held = store.text("select bytes_transferred from files_to_receive where id = 'f-drip'");
    EXPECT_GT(std::stoull(held), 0u);
    EXPECT_LT(std::stoull(held), 800000u);
}

TEST_F(DownloadClient, AStopGivenWhileNothingOfItRunsEndsNoLaterFetch) {
    offer("down-1", "f-p", "p.bin", patterned(200000), way::paused);
    const std::vector<Json> again = pending_files["down-1"];
    start();
    ASSERT_TRUE(wait_until([&] { return !events("download_error", "f-p").empty(); }));
    EXPECT_EQ(events("download_error", "f-p").at(0)["error"].string_value(), "remote_file_paused");
    stop_download("down-1");
    ASSERT_TRUE(wait_until([&] { return stopped_download_id().ids().empty(); })) << "the stop was not taken";

    // The sender resumes and offers it again: it is fetched whole, over several looks.
    set_way("f-p", way::trickle);
    ASSERT_TRUE(db_store_download(again, "", "down-1", a_id, own));
    ASSERT_TRUE(ends_as("f-p", "complete"));
    EXPECT_EQ(events("download_error", "f-p").size(), 1u);
}

TEST_F(DownloadClient, AFileStoredWhileTheQueueIsReadStartsAtTheNextLook) {
    offer("down-a", "f-slow", "slow.bin", patterned(800000), way::trickle);
    // Z's offer is stored while the client is starting A's file, after it looked at Z.
    auto stored = std::make_shared<std::atomic<bool>>(false);
    files->on_target = [stored, this](const std::string& name) {
        if (name != "slow.bin" || stored->exchange(true)) return;
        db_store_download({Json::object{{"id", "f-z"}, {"filename", "z.bin"}, {"filesize", "6"}, {"fileurl", "z"}}}, "",
                          "down-z", z_id, own);
    };
    {
        std::lock_guard<std::mutex> lock(mutex);
        offered["f-z"] = "from z";
    }
    start();
    ASSERT_TRUE(ends_as("f-z", "complete"));
    EXPECT_EQ(status("f-slow"), "queued") << "Z waited for A's file";
}

TEST_F(DownloadClient, AFileThatWouldLeaveTooLittleRoomIsNotStarted) {
    pending_files["down-1"].push_back(Json::object{
        {"id", "f-huge"}, {"filename", "huge.bin"}, {"filesize", std::to_string(1ull << 60)}, {"fileurl", "x"}});
    offer("down-1", "f-small", "small.bin", "fits");
    start();
    ASSERT_TRUE(wait_until([&] { return !events("download_error", "f-huge").empty(); }));
    const std::string error = events("download_error", "f-huge").at(0)["error"].string_value();
    EXPECT_TRUE(std::regex_match(error, std::regex("not enough space: [0-9]+ bytes needed, [0-9]+ free"))) << error;
    EXPECT_EQ(status("f-huge"), "error");
    EXPECT_TRUE(requested_offsets("f-huge").empty()) << "nothing of it was asked for";
    ASSERT_TRUE(ends_as("f-small", "complete")) << "the queue goes on";
}

}  // namespace
}  // namespace vandrel
