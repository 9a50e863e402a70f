#include "core_lib/net/transfer/file_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/rest_server.h"
#include "core_lib/net/transfer/transfer_slots.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/peer_addresses.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/uploads.h"
#include "tests/support/file_platform.h"
#include "tests/support/net_test_support.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

const std::string b_id = "peer-b";
const std::string b_address = "127.0.0.2";
const std::string c_id = "peer-c";
const std::string c_address = "127.0.0.3";

// A file of `size` bytes whose every byte tells its position.
std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

struct served {
    unsigned status = 0;
    std::string body;
    std::vector<std::size_t> pieces;  // the size of each piece, the first answer's body included
    bool aborted = false;             // the connection was to close without the last chunk
};

// What the server would send for the answer, piece by piece.
served drain(const http_answer& answer) {
    served out;
    out.status = answer.status;
    out.body = answer.body;
    if (!answer.body.empty()) out.pieces.push_back(answer.body.size());
    for (int guard = 0; answer.rest && guard < 100000; ++guard) {
        std::string piece;
        const body_source::step step = answer.rest->next_piece(piece);
        if (step == body_source::step::abort) {
            out.aborted = true;
            break;
        }
        if (step == body_source::step::end || piece.empty()) break;
        out.pieces.push_back(piece.size());
        out.body += piece;
    }
    return out;
}

http_request download_request(const std::string& from, const Json& body) {
    http_request request;
    request.method = "POST";
    request.target = request.path = "/download/v1";
    request.peer_address = from;
    request.body = body.dump();
    return request;
}

Json ask(const std::string& file_id, const std::string& chat_id, const std::string& offset = "0") {
    return Json::object{{"file_id", file_id}, {"chat_id", chat_id}, {"offset", offset}};
}

// This device offers files to peer-b (upload "up-b") and to peer-c (upload "up-c"); both
// peers are proven at their loopback addresses.
class FileService : public ::testing::Test {
protected:
    void SetUp() override {
        files = testing::install_file_platform(store.root() + "/files");
        own = get_userid();
        set_peer_ip(b_id, b_address);
        set_peer_ip(c_id, c_address);
        offer("up-b", b_id, {{"big", "big.bin", big}, {"small", "small.bin", "tiny"}, {"other", "other.bin", big}});
        offer("up-c", c_id, {{"for-c", "c.bin", "for c only"}});
    }

    struct offered_file {
        std::string id;
        std::string name;
        std::string bytes;
    };
    void offer(const std::string& upload, const std::string& to, const std::vector<offered_file>& offered) {
        std::vector<Json> rows;
        for (const auto& f : offered) {
            rows.push_back(Json::object{{"id", f.id},
                                        {"filename", f.name},
                                        {"fileurl", files->add_file("up", f.name, f.bytes)},
                                        {"filesize", std::to_string(f.bytes.size())}});
        }
        db_store_upload(rows, "", upload, own, to);
    }

    served serve(const std::string& from, const Json& body) {
        return drain(serve_download_request(download_request(from, body)));
    }

    std::vector<Json> progress_events() {
        std::vector<Json> found;
        for (const Json& e : store.ui().events()) {
            if (e["action"].string_value() == "update_bytes_transferred") found.push_back(e);
        }
        return found;
    }

    testing::temp_store store;
    testing::temp_services services;
    std::shared_ptr<testing::file_platform> files;
    std::string own;
    const std::string big = patterned(40000);
};

// The first piece is one read of 16384 bytes; the rest go in pieces of up to 256 KiB.
TEST_F(FileService, AnswersTheFileFromTheOffsetInBoundedPieces) {
    const struct {
        std::string offset;
        std::size_t from;
        std::vector<std::size_t> pieces;
    } cases[] = {
        {"0", 0, {16384, 23616}},
        {"100", 100, {16384, 23516}},
        {"39999", 39999, {1}},
        // An offset that is no number starts at 0.
        {"", 0, {16384, 23616}},
        {"abc", 0, {16384, 23616}},
        {"-5", 0, {16384, 23616}},
        {"1e3", 0, {16384, 23616}},
        {"12 ", 0, {16384, 23616}},
        // At or past the end: an empty answer.
        {"40000", 40000, {}},
        {"99999999999", 40000, {}},
    };
    for (const auto& c : cases) {
        const served answer = serve(b_address, ask("big", "up-b", c.offset));
        EXPECT_EQ(answer.status, 200u) << c.offset;
        EXPECT_FALSE(answer.aborted) << c.offset;
        EXPECT_EQ(answer.pieces, c.pieces) << c.offset;
        EXPECT_EQ(answer.body, big.substr(c.from)) << c.offset;
    }
    // A file larger than a piece: every piece but the last is full.
    const std::string large = patterned(300000);
    offer("up-large", b_id, {{"large", "large.bin", large}});
    const served whole = serve(b_address, ask("large", "up-large"));
    EXPECT_EQ(whole.pieces, (std::vector<std::size_t>{16384, 262144, 21472}));
    EXPECT_EQ(whole.body, large);
    // Past what a seek can reach: nothing either.
    const served huge = serve(b_address, ask("big", "up-b", "18446744073709551615"));
    EXPECT_TRUE(huge.body.empty());
    EXPECT_EQ(huge.status, 404u);
    // An offset that is a JSON number is no decimal text either.
    EXPECT_EQ(serve(b_address, Json::object{{"file_id", "big"}, {"chat_id", "up-b"}, {"offset", 100}}).body, big);
}

TEST_F(FileService, GivesNothingOfAFileToAnyoneButItsReceiverUnderItsOwnUpload) {
    const struct {
        std::string what;
        std::string from;
        Json body;
    } cases[] = {
        {"an address with no proven device", "127.0.0.9", ask("big", "up-b")},
        {"another peer, proven at its own address", c_address, ask("big", "up-b")},
        {"the receiver naming another upload", b_address, ask("big", "up-c")},
        {"the receiver naming a file of another peer", b_address, ask("for-c", "up-c")},
        {"the receiver, file and upload swapped", b_address, ask("up-b", "big")},
        {"an unknown file", b_address, ask("nothing", "up-b")},
        {"no file id", b_address, Json::object{{"chat_id", "up-b"}}},
        {"a traversal text as file id", b_address, ask("../../../etc/passwd", "up-b")},
        {"a storage path as file id", b_address, ask("up||big.bin", "up-b")},
        {"a traversal text as upload id", b_address, ask("big", "../up-b")},
        {"a long id", b_address, ask(std::string(5000, 'b'), "up-b")},
        {"not an object", b_address, Json::array{"big", "up-b"}},
        {"the address in another form", "::ffff:127.0.0.3", ask("big", "up-b")},
    };
    for (const auto& c : cases) {
        const served answer = serve(c.from, c.body);
        EXPECT_EQ(answer.status, 404u) << c.what;
        EXPECT_TRUE(answer.body.empty()) << c.what;
    }
    http_request broken = download_request(b_address, Json());
    broken.body = "{\"file_id\": \"big\", ";
    EXPECT_EQ(drain(serve_download_request(broken)).status, 404u);
    EXPECT_TRUE(progress_events().empty());
}

TEST_F(FileService, AFileMissingOnDiskIsNotFound) {
    std::filesystem::remove(files->folder("up") + "small.bin");
    EXPECT_EQ(serve(b_address, ask("small", "up-b")).status, 404u);
}

TEST_F(FileService, APausedOrStoppedFileIsRefusedUntilResumed) {
    db_set_file_to_send_status("small", "up-b", "paused");
    EXPECT_EQ(serve(b_address, ask("small", "up-b")).status, 403u);
    EXPECT_EQ(serve(b_address, ask("big", "up-b")).status, 200u) << "only the paused file";
    db_set_file_to_send_status("small", "up-b", "");

    paused_file_id().add("small");
    EXPECT_EQ(serve(b_address, ask("small", "up-b")).status, 403u);
    paused_file_id().remove("small");
    EXPECT_EQ(serve(b_address, ask("small", "up-b")).status, 200u);

    stopped_upload_id().add("up-b");
    EXPECT_EQ(serve(b_address, ask("small", "up-b")).status, 403u);
    EXPECT_EQ(serve(b_address, ask("big", "up-b")).status, 403u);
    EXPECT_EQ(serve(c_address, ask("for-c", "up-c")).status, 200u) << "another upload goes on";
    stopped_upload_id().remove("up-b");
    EXPECT_EQ(serve(b_address, ask("big", "up-b")).body, big);

    // A stop kept in the store holds with the slot empty, as after a restart, until the
    // upload is resumed.
    db_stop_upload("up-b");
    EXPECT_EQ(serve(b_address, ask("big", "up-b")).status, 403u);
    EXPECT_EQ(serve(c_address, ask("for-c", "up-c")).status, 200u) << "another upload goes on";
    db_set_upload_status("up-b", "");
    EXPECT_EQ(serve(b_address, ask("big", "up-b")).body, big);
}

TEST_F(FileService, AStopOrPauseEndsOnlyTheRunningAnswersItNames) {
    http_answer first = serve_download_request(download_request(b_address, ask("big", "up-b")));
    http_answer second = serve_download_request(download_request(b_address, ask("other", "up-b")));
    http_answer third = serve_download_request(download_request(c_address, ask("for-c", "up-c")));
    ASSERT_TRUE(first.rest && second.rest);

    paused_file_id().add("big");
    std::string piece;
    EXPECT_EQ(first.rest->next_piece(piece), body_source::step::abort);
    EXPECT_EQ(second.rest->next_piece(piece), body_source::step::piece) << "another file of the upload goes on";
    EXPECT_TRUE(paused_file_id().contains("big")) << "the pause holds until it is resumed";

    stopped_upload_id().add("up-b");
    EXPECT_EQ(second.rest->next_piece(piece), body_source::step::abort);
    EXPECT_EQ(drain(third).body, "for c only");
}

TEST_F(FileService, ReportsUploadProgressAndKeepsTheEndPosition) {
    // The stored size is what the interface is told, whatever the disk holds.
    store.exec("update files_to_send set filesize = 50000 where id = 'big'");
    store.exec("update files_to_send set bytes_transferred = 4 where id = 'small'");
    const served answer = serve(b_address, ask("big", "up-b", "1000"));
    ASSERT_EQ(answer.body, big.substr(1000));

    const std::vector<Json> events = progress_events();
    ASSERT_EQ(events.size(), 2u) << "the first piece and the end, not one per piece";
    EXPECT_EQ(events[0]["bytes_transferred"].string_value(), std::to_string(1000 + 16384));
    EXPECT_EQ(events[1]["bytes_transferred"].string_value(), "40000");
    for (const Json& e : events) {
        EXPECT_EQ(e["file_id"].string_value(), "big");
        EXPECT_EQ(e["chat_id"].string_value(), "up-b");
        EXPECT_EQ(e["total_bytes"].string_value(), "50000");
        EXPECT_EQ(e["device"].string_value(), b_id);
        EXPECT_EQ(e["filepath"].string_value(), "up||big.bin");
        EXPECT_EQ(e["other_files"].dump(),
                  R"({"bytes_transferred": "4", "number_of_files": "3", "size_of_files": "90004"})");
    }
    ASSERT_TRUE(services.net().transfer_bookkeeping.wait_idle(std::chrono::seconds(10)));
    EXPECT_EQ(store.text("select bytes_transferred from files_to_send where id = 'big'"), "40000");
}

TEST_F(FileService, AFileSentWholeIsCompleteOnlyOnceTheReceiverConfirmsIt) {
    const served answer = serve(b_address, ask("big", "up-b"));
    ASSERT_EQ(answer.body, big);
    const std::vector<Json> events = progress_events();
    ASSERT_FALSE(events.empty());
    // Every byte went out, yet the receiver may not hold them: the sender's record stays
    // short of the size.
    EXPECT_EQ(events.back()["bytes_transferred"].string_value(), std::to_string(big.size() - 1));
    ASSERT_TRUE(services.net().transfer_bookkeeping.wait_idle(std::chrono::seconds(10)));
    const std::string stored = "select bytes_transferred from files_to_send where id = 'big'";
    EXPECT_EQ(store.text(stored), std::to_string(big.size() - 1));

    db_complete_file_to_send({Json::object{{"id", "big"}, {"chat_id", "up-b"}}});
    EXPECT_EQ(store.text(stored), std::to_string(big.size()));
    // A late position of an answer never lowers a confirmed file.
    db_set_file_to_send_progress(100, "big");
    EXPECT_EQ(store.text(stored), std::to_string(big.size()));
}

TEST_F(FileService, ASmallFileGoesInOnePieceAndThenItsEnd) {
    http_answer answer = serve_download_request(download_request(b_address, ask("small", "up-b")));
    EXPECT_EQ(answer.body, "tiny");
    EXPECT_TRUE(answer.close) << "the connection closes once all is sent";
    std::string piece;
    EXPECT_EQ(answer.rest->next_piece(piece), body_source::step::end);
    // The first turn of the pump reports, and so does the end, short of the size until
    // the receiver confirms the file.
    const std::vector<Json> events = progress_events();
    ASSERT_EQ(events.size(), 2u);
    for (const Json& e : events) EXPECT_EQ(e["bytes_transferred"].string_value(), "3");
    EXPECT_EQ(answer.rest->next_piece(piece), body_source::step::end) << "an ended answer sends nothing more";
    EXPECT_EQ(progress_events().size(), 2u);
}

TEST_F(FileService, ThumbnailsForTheInterfaceAndForTheReceiverOfAnOffer) {
    const std::string picture = files->folder("cache") + "t.jpg";
    std::ofstream(picture, std::ios::binary) << "JPEG";
    files->set_thumbnail(picture);
    db_store_download({Json::object{{"id", "got"},
                                    {"filename", "got.png"},
                                    {"filesize", "3"},
                                    {"fileurl", files->add_file("received", "got.png", "png")}}},
                      "", "down-1", b_id, own);
    http_request request;
    request.method = "GET";
    const struct {
        std::string rest;
        bool for_peer;
        std::string from;
        unsigned status;
    } cases[] = {
        {"upload/big", false, "127.0.0.1", 200},     {"download/got", false, "127.0.0.1", 200},
        {"upload/big", true, b_address, 200},        {"upload/big", true, c_address, 404},  // offered to another peer
        {"download/got", true, b_address, 404},  // a peer sees no received file
        {"upload/nothing", false, "127.0.0.1", 404}, {"other/big", false, "127.0.0.1", 404},
        {"upload", false, "127.0.0.1", 404},         {"", false, "127.0.0.1", 404},
        {"upload/../big", false, "127.0.0.1", 404},
    };
    for (const auto& c : cases) {
        request.peer_address = c.from;
        const served answer = drain(serve_thumbnail(request, c.rest, c.for_peer));
        EXPECT_EQ(answer.status, c.status) << c.rest << " for a peer: " << c.for_peer;
        EXPECT_EQ(answer.body, c.status == 200 ? "JPEG" : "") << c.rest;
    }
    files->set_thumbnail("");
    request.peer_address = "127.0.0.1";
    EXPECT_EQ(drain(serve_thumbnail(request, "upload/big", false)).status, 404u) << "no picture of it";
    EXPECT_TRUE(progress_events().empty()) << "a thumbnail is no upload";
}

// The routes over a real server: chunked, with the common fields, closing after a file.
TEST_F(FileService, TheRoutesAnswerOverTheServer) {
    io_manager manager("file routes");
    http_server_config config;
    config.host = "127.0.0.1";
    config.common_fields = rest_common_fields();
    rest_routes routes;
    routes.api = [](const std::string&, const std::string&, const std::string&) { return std::string("{}"); };
    routes.download = [](const http_request& request, const std::string&) { return serve_download_request(request); };
    config.handler = make_rest_handler(routes);
    std::string error;
    const std::uint16_t port = start_http_server(manager, std::move(config), error);
    ASSERT_NE(port, 0) << error;
    set_peer_ip(b_id, "127.0.0.1");

    test::http_reply reply = test::http_exchange(port, false, "POST", "/download/v1", ask("big", "up-b").dump());
    ASSERT_TRUE(reply.ok);
    EXPECT_EQ(reply.status, 200u);
    EXPECT_TRUE(reply.chunked);
    EXPECT_FALSE(reply.keep_alive);
    EXPECT_EQ(reply.headers["access-control-allow-origin"], "*");
    EXPECT_EQ(reply.body, big);

    reply = test::http_exchange(port, false, "POST", "/download/v1", "not json");
    EXPECT_EQ(reply.status, 404u);
    EXPECT_TRUE(reply.chunked);
    EXPECT_TRUE(reply.body.empty());
    manager.stop();
}

}  // namespace
}  // namespace vandrel
