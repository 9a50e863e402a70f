#include "core_lib/net/delivery/resend_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_api.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/uploads.h"
#include "tests/support/stub_peer.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using testing::stub_peer;
using testing::wait_until;

const std::string b_address = "127.0.0.2";
const std::string b_id = "peer-b";
const std::string c_address = "127.0.0.3";
const std::string c_id = "peer-c";
const std::string create_chat = "/api/v1/create_chat";
const std::string ping = "/api/v1/ping";
const std::string completed = "/api/v1/completed_downloads";

Json parse(const std::string& text) {
    std::string err;
    return Json::parse(text, err);
}

http_answer answer_text(const std::string& text) {
    http_answer answer;
    answer.body = text;
    return answer;
}

std::vector<std::string> ids_of(const std::vector<stub_peer::request>& requests) {
    std::vector<std::string> ids;
    for (const auto& r : requests) ids.push_back(parse(r.body)["id"].string_value());
    return ids;
}

std::string numbered(const std::string& prefix, int i, int width = 2) {
    std::string digits = std::to_string(i);
    return prefix + std::string(width - std::min<int>(width, static_cast<int>(digits.size())), '0') + digits;
}

// Two peers on loopback addresses, both in the directory and proven by their key.
class ResendLoop : public ::testing::Test {
protected:
    void SetUp() override {
        stubs = testing::start_stub_peers({{b_address, b_id, ""}, {c_address, c_id, ""}});
        ASSERT_EQ(stubs.size(), 2u);
        b = stubs[0].get();
        c = stubs[1].get();
        set_peer_api_port(b->port());
        own = get_userid();
        db_upsert_device(b_id, "stub/os", "Bee", b_address);
        db_upsert_device(c_id, "stub/os", "Sea", c_address);
        set_peer_ip(b_id, b_address);
        set_peer_ip(c_id, c_address);
        store.ui().clear();
    }

    // Unsent text chats to the peer, ids prefix01..., each one millisecond older than the next.
    void add_texts(const std::string& peer, const std::string& prefix, int count, int first_date = 1000) {
        for (int i = 1; i <= count; ++i) add_text(peer, numbered(prefix, i), first_date + i);
    }
    void add_text(const std::string& peer, const std::string& id, int date) {
        ASSERT_TRUE(db_insert_chat("", id, own, peer, "text", "text " + id));
        store.exec("update chats set date_created = " + std::to_string(date) + " where id = '" + id + "'");
    }
    // An upload chat with files prefix0000..., oldest first.
    void add_upload(const std::string& id, const std::string& file_prefix, int files, int date) {
        std::vector<Json> rows;
        for (int i = 0; i < files; ++i) {
            rows.push_back(Json::object{{"id", numbered(file_prefix, i, 4)},
                                        {"filename", "name " + std::to_string(i) + ".txt"},
                                        {"fileurl", "token|rel|name"},
                                        {"filesize", "7"}});
        }
        db_store_upload(rows, "", id, own, b_id);
        ASSERT_TRUE(db_insert_chat("", id, own, b_id, "upload", ""));
        store.exec("update files_to_send set date_created = " + std::to_string(date) +
                   " + cast(substr(id, 2) as integer) where upload_id = '" + id + "'");
        store.exec("update chats set date_created = " + std::to_string(date) + " where id = '" + id + "'");
    }
    std::int64_t sent_chats() { return store.number("select count(*) from chats where sent = '1'"); }
    std::vector<std::string> marked_sent() {
        std::vector<std::string> ids;
        for (const Json& event : store.ui().events()) {
            if (event["action"].string_value() == "mark_chat_as_sent") ids.push_back(event["id"].string_value());
        }
        return ids;
    }

    testing::temp_store store;
    testing::temp_services services{testing::loopback_config()};
    std::vector<std::unique_ptr<stub_peer>> stubs;
    stub_peer* b = nullptr;
    stub_peer* c = nullptr;
    std::string own;
};

TEST_F(ResendLoop, TextChatsGoOutOldestFirstInBatchesOfTenEachMarkedBeforeTheNext) {
    add_texts(b_id, "t", 15);
    // What was marked when each chat arrived; at the third, an older chat comes in: it
    // must lead the second batch, which shows where the batches are fetched.
    struct seen {
        std::mutex mutex;
        std::vector<std::size_t> marks;
        std::vector<std::int64_t> sent;
    };
    auto at_arrival = std::make_shared<seen>();
    b->answer_with(create_chat, [this, at_arrival](const http_request& request) {
        {
            std::lock_guard<std::mutex> lock(at_arrival->mutex);
            at_arrival->marks.push_back(store.ui().count("mark_chat_as_sent"));
            at_arrival->sent.push_back(sent_chats());
        }
        if (parse(request.body)["id"].string_value() == "t03") add_text(b_id, "t00", 1000);
        return answer_text(R"({"status": "success"})");
    });
    services.net().threads.start("resend loop", resend_loop);
    trigger_resend();

    ASSERT_TRUE(wait_until([&] { return marked_sent().size() == 16; }));
    const std::vector<std::string> expected = {"t01", "t02", "t03", "t04", "t05", "t06", "t07", "t08",
                                               "t09", "t10", "t00", "t11", "t12", "t13", "t14", "t15"};
    EXPECT_EQ(ids_of(b->received(create_chat)), expected);
    EXPECT_EQ(marked_sent(), expected);
    EXPECT_EQ(sent_chats(), 16);
    {
        std::lock_guard<std::mutex> lock(at_arrival->mutex);
        for (std::size_t i = 0; i < at_arrival->marks.size(); ++i) {
            EXPECT_EQ(at_arrival->marks[i], i) << "chat " << i;
            EXPECT_EQ(at_arrival->sent[i], static_cast<std::int64_t>(i)) << "chat " << i;
        }
    }
    // The chat as stored, in the five keys a peer reads.
    EXPECT_EQ(
        b->received(create_chat).front().body,
        Json(Json::object{{"data", "text t01"}, {"id", "t01"}, {"receiver", b_id}, {"sender", own}, {"type", "text"}})
            .dump());
    EXPECT_EQ(c->count(create_chat), 0u);
}

TEST_F(ResendLoop, APeerRefusingTheTenOldestLeavesNewerTextsUntriedAndStillGetsOffers) {
    add_texts(b_id, "t", 12);
    add_upload("u1", "f", 2, 5000);
    const char* refusals[] = {
        R"({"status": "error", "error_code": "forbidden"})", R"({"status": true})", "[]", "not json", "{}",
    };
    for (const char* refusal : refusals) {
        SCOPED_TRACE(refusal);
        b->answer_with(create_chat, [refusal](const http_request& request) {
            const bool offer = parse(request.body)["type"].string_value() == "download";
            return answer_text(offer ? R"({"status": "success"})" : refusal);
        });
        const std::size_t before = b->received(create_chat).size();
        resend_unsent(b_id);
        const std::vector<stub_peer::request> all = b->received(create_chat);
        std::vector<std::string> texts;
        for (std::size_t i = before; i < all.size(); ++i) {
            if (parse(all[i].body)["type"].string_value() == "text")
                texts.push_back(parse(all[i].body)["id"].string_value());
        }
        EXPECT_EQ(texts,
                  (std::vector<std::string>{"t01", "t02", "t03", "t04", "t05", "t06", "t07", "t08", "t09", "t10"}));
        EXPECT_EQ(store.number("select count(*) from chats where type = 'text' and sent = '1'"), 0);
        EXPECT_EQ(get_peer_ip(b_id), b_address) << "a refusal is an answer";
    }
    // The offer went in the first pass, and its chat was marked sent there.
    EXPECT_EQ(marked_sent(), std::vector<std::string>{"u1"});
    EXPECT_EQ(store.text("select sent from chats where id = 'u1'"), "1");
}

TEST_F(ResendLoop, AnUploadOfManyFilesIsOfferedAThousandFilesAtATimeAndMarkedSentInThatPass) {
    add_upload("u0", "e", 2, 1000);
    db_mark_file_to_send_sent({"e0000", "e0001"});  // offered in full before
    add_upload("u1", "f", 1500, 2000);

    resend_unsent(b_id);

    const std::vector<stub_peer::request> offers = b->received(create_chat);
    ASSERT_EQ(offers.size(), 2u) << "none for the upload whose files all went before";
    for (std::size_t n = 0; n < offers.size(); ++n) {
        const Json offer = parse(offers[n].body);
        EXPECT_EQ(offer["type"].string_value(), "download");
        EXPECT_EQ(offer["id"].string_value(), "u1");
        EXPECT_EQ(offer["sender"].string_value(), own);
        EXPECT_EQ(offer["receiver"].string_value(), b_id);
        const auto& files = offer["data"]["files"].array_items();
        ASSERT_EQ(files.size(), n == 0 ? 1000u : 500u);
        for (std::size_t i = 0; i < files.size(); ++i) {
            ASSERT_EQ(files[i]["id"].string_value(), numbered("f", static_cast<int>(n * 1000 + i), 4));
        }
        EXPECT_EQ(files[0].dump(), R"({"filename": ")" + std::string(n == 0 ? "name 0.txt" : "name 1000.txt") +
                                       R"(", "filesize": "7", "id": ")" + (n == 0 ? "f0000" : "f1000") + R"("})");
    }
    EXPECT_EQ(store.number("select count(*) from files_to_send where upload_id = 'u1' and sent = '1'"), 1500);
    EXPECT_EQ(store.text("select group_concat(sent) from chats where id in ('u0', 'u1')"), "1,1");
    EXPECT_EQ(marked_sent(), (std::vector<std::string>{"u0", "u1"}));
}

TEST_F(ResendLoop, CompletedFilesAreAcknowledgedInGroupsOfAThousandOnceAccepted) {
    std::vector<Json> files;
    for (int i = 0; i < 1200; ++i) {
        files.push_back(Json::object{
            {"id", numbered("g", i, 4)}, {"filename", "g.txt"}, {"filesize", "3"}, {"fileurl", "t|r|g.txt"}});
    }
    ASSERT_TRUE(db_store_download(files, "", "d1", b_id, own));
    db_set_files_to_receive_status("complete", files);
    const std::vector<Json> waiting = {Json::object{{"id", "q1"}, {"filename", "q.txt"}, {"filesize", "3"}}};
    ASSERT_TRUE(db_store_download(waiting, "", "d2", b_id, own));
    const std::string statuses = "select status, count(*) from files_to_receive group by status order by status";

    b->answer(completed, R"({"status": "error"})");
    resend_unsent(b_id);
    EXPECT_EQ(b->count(completed), 1u) << "a refused notice ends the pass";
    EXPECT_EQ(store.rows(statuses), (std::vector<std::vector<std::string>>{{"complete", "1200"}, {"queued", "1"}}));

    b->answer(completed, R"({"status": "success"})");
    resend_unsent(b_id);
    const std::vector<stub_peer::request> notices = b->received(completed);
    ASSERT_EQ(notices.size(), 3u);
    std::set<std::string> acknowledged;
    for (std::size_t n = 1; n < notices.size(); ++n) {
        const Json notice = parse(notices[n].body);
        const auto& rows = notice["files"].array_items();
        EXPECT_EQ(rows.size(), n == 1 ? 1000u : 200u);
        for (const Json& row : rows) {
            EXPECT_EQ(row["chat_id"].string_value(), "d1");
            acknowledged.insert(row["id"].string_value());
        }
    }
    EXPECT_EQ(acknowledged.size(), 1200u);
    EXPECT_EQ(store.rows(statuses),
              (std::vector<std::vector<std::string>>{{"complete_sent", "1200"}, {"queued", "1"}}));

    resend_unsent(b_id);
    EXPECT_EQ(b->count(completed), 3u) << "acknowledged files are not sent again";
}

TEST_F(ResendLoop, APeerThatStopsAnsweringIsPingedAndForgottenOnlyWhenThePingFailsToo) {
    const struct {
        const char* name;
        bool ping_answered;
        std::size_t chats_tried;
        std::size_t pings;
    } cases[] = {
        {"silent peer", false, 1, 1},
        {"answers pings only", true, 3, 3},
    };
    add_texts(b_id, "t", 3);
    b->answer_with(create_chat, [](const http_request&) { return testing::cut_answer(); });
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        set_peer_ip(b_id, b_address);
        store.ui().clear();
        const std::size_t chats_before = b->count(create_chat);
        const std::size_t pings_before = b->count(ping);
        if (row.ping_answered) {
            b->answer_with(ping, nullptr);
        } else {
            b->answer_with(ping, [](const http_request&) { return testing::cut_answer(); });
        }

        resend_unsent(b_id);

        EXPECT_EQ(b->count(create_chat) - chats_before, row.chats_tried);
        EXPECT_EQ(b->count(ping) - pings_before, row.pings);
        EXPECT_EQ(parse(b->received(ping).back().body), Json(Json::object{{"device_id", own}}));
        const std::vector<Json> events = store.ui().events();
        std::size_t disconnected = 0;
        for (const Json& event : events) {
            if (event["action"].string_value() != "feedback_for_peer") continue;
            ++disconnected;
            EXPECT_EQ(event, Json(Json::object{
                                 {"action", "feedback_for_peer"}, {"feedback", "Disconnected"}, {"peer_id", b_id}}));
        }
        EXPECT_EQ(disconnected, row.ping_answered ? 0u : 1u);
        EXPECT_EQ(get_peer_ip(b_id), row.ping_answered ? b_address : "");
        EXPECT_EQ(store.ui().count("peers_updated"), row.ping_answered ? 0u : 1u);
        EXPECT_EQ(sent_chats(), 0);
        EXPECT_TRUE(marked_sent().empty());
    }
}

TEST_F(ResendLoop, APeerNotInTheDirectoryGetsNothingUntilItIsSeenAgain) {
    add_texts(b_id, "t", 2);
    add_texts(c_id, "c", 1);
    forget_peer_ip(b_id);  // its stored address is still the stub's
    services.net().threads.start("resend loop", resend_loop);
    trigger_resend();
    // Peers are served in id order: once C has its chat, B's turn has passed.
    ASSERT_TRUE(wait_until([&] { return c->count(create_chat) == 1; }));
    // C's answer is marked once the loop has read it.
    ASSERT_TRUE(wait_until([&] { return sent_chats() == 1; }));
    EXPECT_TRUE(b->received().empty());

    peer_seen(b_id, b_address);  // wakes the loop itself
    ASSERT_TRUE(wait_until([&] { return sent_chats() == 3; }));
    EXPECT_EQ(ids_of(b->received(create_chat)), (std::vector<std::string>{"t01", "t02"}));
}

TEST_F(ResendLoop, APassThatFailsInTheStoreLeavesTheLoopRunning) {
    add_texts(b_id, "t", 2);
    services.net().threads.start("resend loop", resend_loop);
    store.exec("alter table chats rename to chats_away");
    trigger_resend();
    ASSERT_TRUE(wait_until([] { return resend_queue().size_approx() == 0; }));
    std::this_thread::sleep_for(300ms);  // the pass reads the store at once and fails
    store.exec("alter table chats_away rename to chats");

    trigger_resend();
    ASSERT_TRUE(wait_until([&] { return sent_chats() == 2; }));
    EXPECT_EQ(ids_of(b->received(create_chat)), (std::vector<std::string>{"t01", "t02"}));
}

TEST_F(ResendLoop, AChatRefusedForGoodIsMarkedFailedAndToldAndTheBatchGoesOn) {
    const struct {
        const char* code;
        bool for_good;
    } cases[] = {
        {"too_long", true}, {"too_many_files", true}, {"invalid_id", true}, {"empty_sender", true},
        {"id_taken", true}, {"forbidden", false},     {"busy", false},      {"internal_error", false},
    };
    int round = 0;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.code);
        store.exec("delete from chats");
        store.ui().clear();
        // Ten refused chats fill a batch; the eleventh is a short one typed after them.
        const std::string prefix = "r" + std::to_string(++round) + "-";
        add_texts(b_id, prefix, 11);
        const std::string last = numbered(prefix, 11);
        b->answer_with(create_chat, [code = std::string(row.code), last](const http_request& request) {
            if (parse(request.body)["id"].string_value() == last) return answer_text(R"({"status": "success"})");
            return answer_text(Json(Json::object{{"status", "error"}, {"error_code", code}}).dump());
        });

        resend_unsent(b_id);

        std::size_t failed_events = 0;
        for (const Json& event : store.ui().events()) {
            if (event["action"].string_value() != "chat_failed") continue;
            ++failed_events;
            EXPECT_EQ(event["device_id"].string_value(), b_id);
            EXPECT_EQ(event["error_code"].string_value(), row.code);
            EXPECT_EQ(event["chat_id"].string_value().rfind(prefix, 0), 0u);
        }
        const std::int64_t failed = store.number("select count(*) from chats where status = 'failed'");
        if (row.for_good) {
            EXPECT_EQ(failed_events, 10u);
            EXPECT_EQ(failed, 10);
            EXPECT_EQ(marked_sent(), std::vector<std::string>{last}) << "the chat after them went out";
            const std::size_t tried = b->count(create_chat);
            resend_unsent(b_id);
            EXPECT_EQ(b->count(create_chat), tried) << "a failed chat is never offered again";
        } else {
            EXPECT_EQ(failed_events, 0u);
            EXPECT_EQ(failed, 0);
            EXPECT_TRUE(marked_sent().empty()) << "the refused ten still hold the batch for now";
        }
    }
}

TEST_F(ResendLoop, AnOfferRefusedForGoodIsMarkedFailedAndToldOnce) {
    add_upload("u1", "f", 2, 1000);
    add_texts(b_id, "t", 1, 2000);
    b->answer_with(create_chat, [](const http_request& request) {
        const bool offer = parse(request.body)["type"].string_value() == "download";
        return answer_text(offer ? R"({"status": "error", "error_code": "too_many_files"})"
                                 : R"({"status": "success"})");
    });
    resend_unsent(b_id);
    resend_unsent(b_id);
    EXPECT_EQ(store.text("select status from chats where id = 'u1'"), "failed");
    EXPECT_EQ(store.ui().count("chat_failed"), 1u);
    std::size_t offers = 0;
    for (const auto& request : b->received(create_chat)) offers += parse(request.body)["id"].string_value() == "u1";
    EXPECT_EQ(offers, 1u);
    EXPECT_EQ(marked_sent(), std::vector<std::string>{"t01"});
}

TEST_F(ResendLoop, APeerThatHoldsItsAnswerDelaysNoOtherPeersChats) {
    add_texts(b_id, "b", 1);
    add_texts(c_id, "c", 1);
    struct gate {
        std::mutex mutex;
        std::condition_variable opened_cv;
        bool opened = false;
    };
    auto held = std::make_shared<gate>();
    // B sorts first and keeps its answer until the test is done with C.
    b->answer_with(create_chat, [held](const http_request&) {
        std::unique_lock<std::mutex> lock(held->mutex);
        held->opened_cv.wait_for(lock, 20s, [&] { return held->opened; });
        return answer_text(R"({"status": "success"})");
    });
    services.net().threads.start("resend loop", resend_loop);
    trigger_resend();
    ASSERT_TRUE(wait_until([&] { return b->count(create_chat) == 1; }));
    ASSERT_TRUE(wait_until([&] { return marked_sent() == std::vector<std::string>{"c01"}; }));
    // Wake-ups while B's pass still runs start no second pass to B.
    for (int i = 0; i < 5; ++i) trigger_resend();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(b->count(create_chat), 1u);
    {
        std::lock_guard<std::mutex> lock(held->mutex);
        held->opened = true;
    }
    held->opened_cv.notify_all();
    ASSERT_TRUE(wait_until([&] { return sent_chats() == 2; }));
}

}  // namespace
}  // namespace vandrel
