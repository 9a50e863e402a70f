#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/shared_pending.h"
#include "tests/api/api_fixture.h"

namespace vandrel::api_test {
namespace {

const std::vector<std::string> endpoint_names = {"/hello_world",
                                                 "/get_device_info",
                                                 "/ping",
                                                 "/os",
                                                 "/who_am_i",
                                                 "/shared_files",
                                                 "/remove_shared_file",
                                                 "/add_shared_files",
                                                 "/local_ips",
                                                 "/create_device",
                                                 "/create_chat",
                                                 "/erase_chats_for_peer",
                                                 "/turn_on_accessibility",
                                                 "/get_chats_for_peer",
                                                 "/get_new_downloads",
                                                 "/new_settings",
                                                 "/create_upload",
                                                 "/create_download",
                                                 "/show_file_picker",
                                                 "/clear_pending_files",
                                                 "/upload_pending_files",
                                                 "/download_file",
                                                 "/show_downloaded_file",
                                                 "/show_uploaded_file",
                                                 "/open_downloaded_file",
                                                 "/download_files",
                                                 "/bytes_transferred",
                                                 "/clear_unread",
                                                 "/change_send_notifications",
                                                 "/get_recently_changed_devices",
                                                 "/get_pending_files",
                                                 "/start_hotspot",
                                                 "/stop_hotspot",
                                                 "/scan_wifi",
                                                 "/resend",
                                                 "/join_mesk_network",
                                                 "/get_hotspot_password",
                                                 "/open_folder",
                                                 "/open_file",
                                                 "/info_file",
                                                 "/completed_downloads",
                                                 "/pending_files_updated",
                                                 "/pending_folders_updated",
                                                 "/open_folder_for_chat",
                                                 "/wake_up",
                                                 "/copy_to_clipboard",
                                                 "/add_notification",
                                                 "/mirror_notification",
                                                 "/toggle_run_on_startup",
                                                 "/toggle_run_wifi_direct_on_startup",
                                                 "/toggle_run_web_share_on_startup",
                                                 "/toggle_run_web_mode",
                                                 "/stop_download",
                                                 "/stop_upload",
                                                 "/pause_file_upload",
                                                 "/resume_file_upload",
                                                 "/pause_upload",
                                                 "/resume_upload",
                                                 "/get_avatar",
                                                 "/chat_info",
                                                 "/reset_downloads_folder",
                                                 "/accepted_folders",
                                                 "/add_accepted_folder",
                                                 "/run_tests"};

const std::set<std::string> peer_endpoints = {
    "/ping", "/create_chat", "/completed_downloads", "/mirror_notification", "/get_avatar", "/hello_world",
    "/os",   "/who_am_i"};

std::string unknown(const std::string& endpoint) {
    return Json(Json::object{{"endpoint", endpoint}, {"error_code", "unknown_endpoint"}, {"status", "error"}}).dump();
}

const std::string success = R"({"status": "success"})";
const std::string forbidden = R"({"error_code": "forbidden", "status": "error"})";
const std::string internal_error = R"({"error_code": "internal_error", "status": "error"})";

using DispatcherTest = ApiTest;

TEST_F(DispatcherTest, TheTableHoldsEveryEndpointInItsOrder) {
    std::vector<std::string> names;
    for (const api_endpoint& entry : api_endpoint_table()) names.push_back(entry.name);
    EXPECT_EQ(names, endpoint_names);
}

// Each name, called with an empty object, answers what only its own handler answers.
TEST_F(DispatcherTest, EveryNameReachesItsHandler) {
    const std::string hotspot_password = get_device_hotspot_passphrase();
    const struct {
        const char* endpoint;
        std::string reply;
    } cases[] = {
        {"/hello_world", success},
        {"/os", R"({"os": "linux", "status": "success", "version": "4.3.0"})"},
        {"/who_am_i", Json(Json::object{{"alias", alias},
                                        {"device_id", own_id},
                                        {"status", "success"},
                                        {"sys_info", "Test Model - Test Maker"}})
                          .dump()},
        {"/ping", Json(Json::object{{"alias", alias},
                                    {"remote_id", own_id},
                                    {"status", "success"},
                                    {"sys_info", "Test Model - Test Maker"}})
                      .dump()},
        {"/shared_files", R"({"files": [], "status": "success"})"},
        {"/local_ips", R"({"local_ips": [], "status": "success"})"},
        {"/create_device", R"({"error_code": "empty_id", "status": "error"})"},
        {"/create_chat", R"({"error_code": "empty_id", "id": "", "status": "error"})"},
        {"/create_upload", R"({"error_code": "empty_id", "id": "", "status": "error"})"},
        {"/create_download", R"({"error_code": "empty_id", "id": "", "status": "error"})"},
        {"/get_chats_for_peer", R"({"chats": [], "status": "success"})"},
        {"/get_new_downloads", R"({"downloads": [], "status": "success"})"},
        {"/download_file",
         R"({"error_message": "_both_devices_are_not_connected_to_the_same_wifi", "status": "error"})"},
        {"/resend", R"({"error_message": "_both_devices_are_not_connected_to_the_same_wifi", "status": "error"})"},
        {"/show_downloaded_file", R"({"status": "error"})"},
        {"/show_uploaded_file", R"({"status": "error"})"},
        {"/open_downloaded_file", R"({"status": "error"})"},
        {"/get_recently_changed_devices", R"({"devices": [], "last_pull_devices": "0", "status": "success"})"},
        {"/get_pending_files", R"({"files": [], "status": "success"})"},
        {"/stop_hotspot", R"({"activated": true, "status": "success"})"},
        {"/get_hotspot_password", Json(Json::object{{"password", hotspot_password}, {"status", "success"}}).dump()},
        {"/info_file", "null"},
        {"/get_avatar", R"({"avatar": "", "status": "success"})"},
        {"/accepted_folders", R"({"folders": []})"},
        {"/chat_info", R"({"account": "", "data": "", "date_created": "", "date_updated": "", "files": [], "id": "", )"
                       R"("info": null, "receiver": "", "sender": "", "sent": "", "status": "", "type": ""})"},
    };
    for (const auto& c : cases) EXPECT_EQ(call_text(c.endpoint, Json::object{}), c.reply) << c.endpoint;
}

// The handlers that only answer success show themselves by what they do.
TEST_F(DispatcherTest, SuccessOnlyHandlersShowThemselvesByTheirEffects) {
    EXPECT_EQ(call_text("/turn_on_accessibility", Json::object{}), success);
    EXPECT_EQ(events_of("turn_on_accessibility").size(), 1u);

    EXPECT_EQ(call_text("/pending_files_updated", Json::object{{"files", Json::array{"/a"}}}), success);
    EXPECT_EQ(call_text("/pending_folders_updated", Json::object{{"folders", Json::array{"/d"}}}), success);
    EXPECT_EQ(db_get_pending_files().size(), 2u);
    store.ui().clear();
    EXPECT_EQ(call_text("/wake_up", Json::object{}), success);
    EXPECT_EQ(events_of("pending_files_updated").size(), 1u);
    EXPECT_EQ(call_text("/clear_pending_files", Json::object{}), success);
    EXPECT_TRUE(db_get_pending_files().empty());

    EXPECT_EQ(
        call_text("/add_shared_files",
                  Json::object{{"files", Json::array{Json::object{{"filename", "a.txt"}, {"fileurl", "/x/a.txt"}}}}}),
        success);
    ASSERT_EQ(db_get_shared_files().size(), 1u);
    EXPECT_EQ(call_text("/remove_shared_file", Json::object{{"id", db_get_shared_files()[0]["id"]}}), success);
    EXPECT_TRUE(db_get_shared_files().empty());

    EXPECT_EQ(call_text("/copy_to_clipboard", Json::object{{"text", "hi"}}), success);
    EXPECT_EQ(store.platform().clipboard_texts(), std::vector<std::string>{"hi"});
    EXPECT_EQ(call_text("/open_file", Json::object{{"file", "t|r|n"}}), success);
    EXPECT_EQ(store.platform().opened_files(), std::vector<std::string>{"t|r|n"});

    EXPECT_EQ(call_text("/add_notification", Json::object{{"title", "T"}}), success);
    EXPECT_EQ(drain_mirror_queue().size(), 1u);

    store.ui().clear();
    for (const char* toggle : {"/toggle_run_on_startup", "/toggle_run_wifi_direct_on_startup",
                               "/toggle_run_web_share_on_startup", "/reset_downloads_folder"}) {
        EXPECT_EQ(call_text(toggle, Json::object{}), success) << toggle;
    }
    EXPECT_EQ(events_of("device_updated").size(), 4u);
    EXPECT_FALSE(get_run_on_startup());
    EXPECT_FALSE(get_run_wifi_direct_on_startup());
    EXPECT_FALSE(get_run_web_share_on_startup());

    EXPECT_EQ(call_text("/stop_upload", Json::object{{"id", "u1"}}), success);
    EXPECT_TRUE(stopped_upload_id().contains("u1"));
    EXPECT_EQ(call_text("/stop_download", Json::object{{"id", "d1"}}), success);
    EXPECT_TRUE(stopped_download_id().contains("d1"));
    EXPECT_EQ(call_text("/pause_file_upload", Json::object{{"id", "f1"}, {"chat_id", "u1"}}), success);
    EXPECT_TRUE(paused_file_id().contains("f1"));

    EXPECT_EQ(call_text("/start_hotspot", Json::object{}), R"({"activated": true, "status": "success"})");
    EXPECT_TRUE(is_hotspot_started());
}

TEST_F(DispatcherTest, NamesThatAreNotInTheTableAreUnknown) {
    for (const std::string& endpoint : std::vector<std::string>{
             "", "/Hello_world", "/HELLO_WORLD", "/hello_world/", "hello_world", "/hello_worldx", "/hello_world ",
             " /hello_world", "/hello", "/run_tests/", "/create_chat?x=1", std::string("/hello_world\0", 13)}) {
        EXPECT_EQ(call_text(endpoint, Json::object{}), unknown(endpoint)) << endpoint;
        EXPECT_EQ(handle_api_request(endpoint, "{}", peer_address), unknown(endpoint)) << endpoint;
    }
}

TEST_F(DispatcherTest, ABodyThatDoesNotParseReachesTheHandlerAsNull) {
    for (const std::string& body :
         std::vector<std::string>{"", "plain words", "{} trailing", "{\"id\": ", "[1, 2]", "null"}) {
        EXPECT_EQ(handle_api_request("/hello_world", body, "from_ui"), success) << body;
        EXPECT_EQ(handle_api_request("/create_device", body, "from_ui"),
                  R"({"error_code": "empty_id", "status": "error"})")
            << body;
    }
}

TEST_F(DispatcherTest, RepliesWithoutTheSuccessEnvelope) {
    const struct {
        const char* endpoint;
        Json body;
        const char* origin;
        std::string reply;
    } cases[] = {
        {"/info_file", Json::object{{"id", "nothing"}, {"type", "upload"}}, "from_ui", "null"},
        {"/info_file", Json::object{{"id", "nothing"}, {"type", "Upload"}}, "from_ui", "null"},
        {"/accepted_folders", Json::object{}, "from_ui", R"({"folders": []})"},
    };
    for (const auto& c : cases) EXPECT_EQ(call_text(c.endpoint, c.body, c.origin), c.reply) << c.endpoint;
    EXPECT_EQ(get_alias(), alias);
    const Json chat = call("/chat_info", Json::object{{"id", "nothing"}});
    EXPECT_EQ(chat["id"].string_value(), "nothing");
    EXPECT_EQ(chat["status"].string_value(), "");
    EXPECT_TRUE(chat["info"].is_null());
}

TEST_F(DispatcherTest, PeersReachOnlyWhatPeersPostToEachOther) {
    // A peer proven at the address: what it may post is refused for no other reason.
    set_peer_ip("peer-p", peer_address);
    for (const std::string& endpoint : endpoint_names) {
        const std::string reply = call_text(endpoint, Json::object{}, peer_address);
        if (peer_endpoints.count(endpoint)) {
            EXPECT_NE(reply, forbidden) << endpoint;
        } else {
            EXPECT_EQ(reply, forbidden) << endpoint;
        }
    }
    // The self test is local, like the interface; only it cannot start itself.
    for (const std::string& endpoint : endpoint_names) {
        if (endpoint == "/run_tests") continue;
        EXPECT_NE(call_text(endpoint, Json::object{}, "test"), forbidden) << endpoint;
    }
}

TEST_F(DispatcherTest, OnlyTheInterfaceStartsTheSelfTestAndOneRunAtATime) {
    api_state& api = current_api::get();
    EXPECT_EQ(call_text("/run_tests", Json::object{}), unknown("/run_tests")) << "a core without a runner";

    int started = 0;
    bool running = false;
    api.start_self_test = [&] {
        if (running) return false;
        running = true;
        ++started;
        return true;
    };
    set_peer_ip("peer-p", peer_address);
    for (const std::string& origin : {peer_address, std::string("test"), std::string("From_ui")}) {
        EXPECT_EQ(call_text("/run_tests", Json::object{}, origin), forbidden) << origin;
    }
    EXPECT_EQ(started, 0);
    EXPECT_EQ(call_text("/run_tests", Json::object{}), "");
    EXPECT_EQ(call_text("/run_tests", Json::object{}), R"({"error_code": "tests_running", "status": "error"})");
    EXPECT_EQ(started, 1) << "a second request while a run is going starts nothing";
    running = false;
    EXPECT_EQ(call_text("/run_tests", Json::object{}), "");
    EXPECT_EQ(started, 2);
    api.start_self_test = nullptr;
}

TEST_F(DispatcherTest, AForbiddenCallChangesNothing) {
    EXPECT_EQ(
        call_text("/new_settings", Json::object{{"alias", "Taken Over"}, {"webshare_password", "0000"}}, peer_address),
        forbidden);
    EXPECT_EQ(get_alias(), alias);
    EXPECT_NE(get_webshare_password(), "0000");

    EXPECT_EQ(call_text("/create_device", Json::object{{"id", "d"}, {"alias", "a"}, {"sys_info", "s"}}, peer_address),
              forbidden);
    EXPECT_EQ(store.number("select count(*) from devices"), 0);
    EXPECT_EQ(call_text("/pending_files_updated", Json::object{{"files", Json::array{"/etc/passwd"}}}, peer_address),
              forbidden);
    EXPECT_TRUE(db_get_pending_files().empty());
}

TEST_F(DispatcherTest, AThrowingHandlerAnswersInternalErrorAndTheProcessGoesOn) {
    // Every pooled connection refuses writes from now on.
    for (int i = 0; i < 10; ++i) store.exec("PRAGMA query_only = 1");

    EXPECT_EQ(call_text("/clear_pending_files", Json::object{}), internal_error);
    EXPECT_EQ(call_text("/pending_files_updated", Json::object{{"files", Json::array{"/a"}}}), internal_error);
    EXPECT_EQ(call_text("/create_device", Json::object{{"id", "d"}, {"alias", "a"}, {"sys_info", "s"}}), success)
        << "the device upsert swallows its failures";
    // A long chat fails on the pool, where the failure is logged and dropped.
    const Json chat(Json::object{{"id", std::string(60, 'c')},
                                 {"sender", own_id},
                                 {"receiver", std::string(64, 'b')},
                                 {"type", "text"},
                                 {"data", "hello"}});
    EXPECT_EQ(call("/create_chat", chat)["status"].string_value(), "success");
    settle();

    EXPECT_EQ(call_text("/hello_world", Json::object{}), success);
    for (int i = 0; i < 10; ++i) store.exec("PRAGMA query_only = 0");
    EXPECT_EQ(call_text("/pending_files_updated", Json::object{{"files", Json::array{"/a"}}}), success);
    EXPECT_EQ(db_get_pending_files().size(), 1u);
    EXPECT_EQ(db_get_chat_sender(std::string(60, 'c')), "") << "the failed chat was not stored";
}

}  // namespace
}  // namespace vandrel::api_test
