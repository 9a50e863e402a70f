#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/uploads.h"
#include "tests/api/api_fixture.h"

namespace vandrel::api_test {
namespace {

const std::string success = R"({"status": "success"})";

// A hotspot whose feature check waits until the test lets it answer, as NetworkManager
// may for many seconds.
class SlowFeatureBackend : public testing::SimulatedHotspotBackend {
public:
    bool HasFeature() const override {
        std::unique_lock<std::mutex> lock(gate_mutex_);
        ++asked_;
        gate_.wait(lock, [this] { return open_; });
        return SimulatedHotspotBackend::HasFeature();
    }
    void open() {
        {
            std::lock_guard<std::mutex> lock(gate_mutex_);
            open_ = true;
        }
        gate_.notify_all();
    }
    int asked() const {
        std::lock_guard<std::mutex> lock(gate_mutex_);
        return asked_;
    }

private:
    mutable std::mutex gate_mutex_;
    mutable std::condition_variable gate_;
    bool open_ = false;
    mutable int asked_ = 0;
};

class DeviceHandlersTest : public ApiTest {
protected:
    std::vector<std::string> device_row(const std::string& id) {
        const auto rows = store.rows("select alias, sysinfo, last_ip from devices where id = '" + id + "'");
        return rows.empty() ? std::vector<std::string>{} : rows[0];
    }
};

TEST_F(DeviceHandlersTest, PingStoresOnlyAPeerProvenThereWithAliasAndSystemText) {
    const struct {
        Json body;
        bool proven;
        std::vector<std::string> row;
    } cases[] = {
        {Json::object{{"device_id", "d1"}, {"alias", "A"}, {"sys_info", "S"}}, true, {"A", "S", peer_address}},
        {Json::object{{"device_id", "d2"}}, true, {}},
        {Json::object{{"device_id", "d3"}, {"alias", 5}, {"sys_info", "S"}}, true, {}},
        {Json::object{{"device_id", "d4"}, {"alias", "A"}}, true, {}},
        // Not proven at this address: answered, nothing kept.
        {Json::object{{"device_id", "d5"}, {"alias", "A"}, {"sys_info", "S"}}, false, {}},
    };
    for (const auto& c : cases) {
        const std::string& id = c.body["device_id"].string_value();
        if (c.proven) set_peer_ip(id, peer_address);
        const Json reply = call("/ping", c.body, peer_address);
        EXPECT_EQ(reply["remote_id"].string_value(), own_id);
        EXPECT_EQ(reply["alias"].string_value(), alias);
        EXPECT_EQ(reply["sys_info"].string_value(), "Test Model - Test Maker");
        EXPECT_EQ(device_row(id), c.row) << c.body.dump();
        EXPECT_EQ(get_peer_ip(id), c.proven ? peer_address : "") << c.body.dump();
    }
}

TEST_F(DeviceHandlersTest, PingWithThisDevicesIdIsNotRecordedAsAPeer) {
    call("/ping", Json::object{{"device_id", own_id}, {"alias", "Me"}, {"sys_info", "S"}}, peer_address);
    EXPECT_EQ(get_peer_ip(own_id), "");
    call("/ping", Json::object{}, peer_address);
    EXPECT_EQ(get_peer_ip(""), "");
}

TEST_F(DeviceHandlersTest, ALocalOriginIsNeverStoredAsAnAddress) {
    set_peer_ip("d1", peer_address);
    call("/ping", Json::object{{"device_id", "d1"}, {"alias", "A"}, {"sys_info", "S"}}, peer_address);
    for (const char* origin : {"from_ui", "test"}) {
        call("/ping", Json::object{{"device_id", "d1"}, {"alias", "B"}, {"sys_info", "S"}}, origin);
        EXPECT_EQ(device_row("d1"), (std::vector<std::string>{"B", "S", peer_address})) << origin;
        EXPECT_EQ(get_peer_ip("d1"), peer_address) << origin;
        call("/create_device", Json::object{{"id", "d1"}, {"alias", "C"}, {"sys_info", "T"}}, origin);
        EXPECT_EQ(device_row("d1"), (std::vector<std::string>{"C", "T", peer_address})) << origin;
        call("/create_device", Json::object{{"id", std::string("n-") + origin}, {"alias", "N"}, {"sys_info", "T"}},
             origin);
        EXPECT_EQ(device_row(std::string("n-") + origin), (std::vector<std::string>{"N", "T", ""})) << origin;
    }
}

TEST_F(DeviceHandlersTest, CreateDeviceValidatesTrimmedValuesInOrder) {
    const struct {
        Json body;
        std::string reply;
    } cases[] = {
        {Json::object{{"id", "   "}, {"alias", "A"}, {"sys_info", "S"}},
         R"({"error_code": "empty_id", "status": "error"})"},
        {Json::object{{"id", "d"}, {"alias", " "}}, R"({"error_code": "empty_alias", "status": "error"})"},
        {Json::object{{"id", "d"}, {"alias", "A"}}, R"({"error_code": "empty_sys_info", "status": "error"})"},
        {Json::object{{"id", " d "}, {"alias", " A "}, {"sys_info", " S "}}, success},
    };
    for (const auto& c : cases) EXPECT_EQ(call_text("/create_device", c.body), c.reply) << c.body.dump();
    EXPECT_EQ(device_row("d"), (std::vector<std::string>{"A", "S", ""}));
    EXPECT_EQ(store.number("select count(*) from devices"), 1);
}

TEST_F(DeviceHandlersTest, NewSettingsChangesOnlyForTheInterfaceAndTheSelfTest) {
    EXPECT_EQ(call_text("/new_settings", Json::object{{"alias", ""}, {"webshare_password", ""}}), success);
    EXPECT_TRUE(events_of("device_updated").empty());

    // Look-alikes of the interface's origin are peers.
    for (const char* origin : {"from_uix", "From_ui", "192.0.2.9"}) {
        EXPECT_EQ(call_text("/new_settings", Json::object{{"alias", "X"}}, origin),
                  R"({"error_code": "forbidden", "status": "error"})")
            << origin;
    }
    EXPECT_EQ(get_alias(), alias);

    EXPECT_EQ(call_text("/new_settings", Json::object{{"alias", "New Name"}, {"webshare_password", "4321"}}), success);
    EXPECT_EQ(get_alias(), "New Name");
    EXPECT_EQ(get_webshare_password(), "4321");
    EXPECT_EQ(events_of("device_updated").size(), 2u);
    // The self test checks that the alias changes: it has the interface's rights here.
    EXPECT_EQ(call_text("/new_settings", Json::object{{"alias", "Test Alias2"}}, "test"), success);
    EXPECT_EQ(get_alias(), "Test Alias2");
}

TEST_F(DeviceHandlersTest, DeviceInfoSnapshot) {
    const Json info = call("/get_device_info");
    const Json::object& keys = info.object_items();
    std::vector<std::string> names;
    for (const auto& [name, value] : keys) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"alias",
                                               "app_version",
                                               "avatar",
                                               "downloads_folder",
                                               "folders",
                                               "has_hotspot_feature",
                                               "hotspot_is_running",
                                               "hotspot_password",
                                               "hotspot_ssid",
                                               "id",
                                               "os",
                                               "run_on_startup",
                                               "run_web_mode",
                                               "run_web_share_on_startup",
                                               "run_wifi_direct_on_startup",
                                               "ssid",
                                               "status",
                                               "sys_info",
                                               "webshare_password",
                                               "webshare_port"}));
    EXPECT_EQ(info["id"].string_value(), own_id);
    EXPECT_EQ(info["os"].string_value(), "linux");
    EXPECT_EQ(info["webshare_port"], Json("3456"));
    EXPECT_EQ(info["folders"], Json(Json::array{}));
    EXPECT_EQ(info["hotspot_is_running"], Json(false));
    EXPECT_EQ(info["hotspot_ssid"], Json(""));
    EXPECT_EQ(info["run_on_startup"], Json(true));
    EXPECT_EQ(info["webshare_password"].string_value().size(), 4u);
}

TEST_F(DeviceHandlersTest, DeviceInfoNeverWaitsForTheHotspotFeatureCheck) {
    auto slow = std::make_shared<SlowFeatureBackend>();
    current_platform::get().set_hotspot(std::make_shared<WlanHostedNetworkHelper>(slow));
    store.ui().clear();
    auto first = std::async(std::launch::async, [this] { return call("/get_device_info"); });
    const bool answered = first.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    store.ui().clear();  // of what the first reads of the settings told
    slow->open();        // a call that waits ends either way
    ASSERT_TRUE(answered) << "the answer waited for the feature check";
    EXPECT_EQ(first.get()["has_hotspot_feature"], Json(false)) << "told before it was known";

    // Once known it is told, and answered from then on without asking again.
    settle();
    EXPECT_EQ(events_of("device_updated").size(), 1u);
    EXPECT_EQ(call("/get_device_info")["has_hotspot_feature"], Json(true));
    EXPECT_EQ(call("/get_device_info")["has_hotspot_feature"], Json(true));
    settle();
    EXPECT_EQ(slow->asked(), 1);
    EXPECT_EQ(events_of("device_updated").size(), 1u);
}

TEST_F(DeviceHandlersTest, TogglesFlipAndFlipBack) {
    call("/toggle_run_on_startup");
    EXPECT_EQ(call("/get_device_info")["run_on_startup"], Json(false));
    call("/toggle_run_on_startup");
    EXPECT_EQ(call("/get_device_info")["run_on_startup"], Json(true));

    call("/toggle_run_web_mode");
    EXPECT_EQ(call("/get_device_info")["run_web_mode"], Json(true));
    call("/toggle_run_web_mode");
    EXPECT_EQ(call("/get_device_info")["run_web_mode"], Json(false));
}

TEST_F(DeviceHandlersTest, HotspotPasswordIsTheDevicesOwnBeforeWhileAndAfterARun) {
    EXPECT_EQ(call("/stop_hotspot").dump(), R"({"activated": true, "status": "success"})");
    call("/new_settings", Json::object{{"alias", "first name"}});
    const std::string key = call("/get_hotspot_password")["password"].string_value();
    EXPECT_EQ(key, get_device_hotspot_passphrase());
    EXPECT_EQ(key.size(), 12u);

    store.ui().clear();
    EXPECT_EQ(call("/start_hotspot")["activated"], Json(true));
    const std::vector<Json> created = events_of("hotspot_created");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0]["ssid"].string_value(), "MeskWiFi-firstname");
    EXPECT_EQ(created[0]["password"].string_value(), key);
    EXPECT_EQ(events_of("device_updated").size(), 1u);
    const Json info = call("/get_device_info");
    EXPECT_EQ(info["has_hotspot_feature"], Json(true));
    EXPECT_EQ(info["hotspot_ssid"].string_value(), "MeskWiFi-firstname");
    EXPECT_EQ(info["hotspot_password"].string_value(), key);

    // A new alias renames the network, never the key.
    call("/new_settings", Json::object{{"alias", "second name"}});
    EXPECT_EQ(call("/get_hotspot_password")["password"].string_value(), key);
    EXPECT_EQ(call("/stop_hotspot")["activated"], Json(true));
    EXPECT_EQ(events_of("hotspot_stopped").size(), 1u);
    EXPECT_EQ(call("/get_hotspot_password")["password"].string_value(), key);
    call("/start_hotspot");
    EXPECT_EQ(get_hotspot_ssid(), "MeskWiFi-secondname");
    EXPECT_EQ(get_hotspot_passphrase(), key);
}

TEST_F(DeviceHandlersTest, WithoutTheFeatureNothingStartsAndNothingIsAnnounced) {
    hotspot_backend->SetFeature(false);
    store.ui().clear();
    EXPECT_EQ(call("/start_hotspot").dump(), R"({"activated": false, "status": "success"})");
    EXPECT_EQ(call("/stop_hotspot").dump(), R"({"activated": true, "status": "success"})");
    EXPECT_TRUE(store.ui().texts().empty());
    EXPECT_FALSE(hotspot_backend->HasPublisher());
    const Json info = call("/get_device_info");
    EXPECT_EQ(info["has_hotspot_feature"], Json(false));
    EXPECT_EQ(info["hotspot_is_running"], Json(false));
    EXPECT_EQ(info["hotspot_ssid"], Json(""));
    // The key is the device's own whether or not it can run a hotspot.
    EXPECT_EQ(call("/get_hotspot_password")["password"].string_value(), get_device_hotspot_passphrase());
}

TEST_F(DeviceHandlersTest, PresentationFindsFilesInTheRightTable) {
    db_store_upload({Json::object{{"id", "s1"}, {"filename", "up.png"}, {"filesize", "5"}, {"fileurl", "t|r|up.png"}}},
                    "", "u1", own_id, "peer-a");
    db_store_download({Json::object{{"id", "r2"}, {"filename", "b.txt"}, {"filesize", "1"}, {"fileurl", "t||b.txt"}},
                       Json::object{{"id", "r1"}, {"filename", "a.txt"}, {"filesize", "1"}, {"fileurl", "t||a.txt"}},
                       Json::object{{"id", "r3"}, {"filename", "c.txt"}, {"filesize", "1"}, {"fileurl", "t||c.txt"}}},
                      "", "d1", "peer-a", own_id);
    store.exec("update files_to_receive set date_created = 1000");

    const struct {
        const char* endpoint;
        const char* id;
        std::string reply;
    } cases[] = {
        {"/show_downloaded_file", "s1", R"({"status": "error"})"},
        {"/show_uploaded_file", "s1", success},
        {"/show_downloaded_file", "r1", success},
        {"/open_downloaded_file", "r2", success},
        {"/open_downloaded_file", "s1", R"({"status": "error"})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(call_text(c.endpoint, Json::object{{"id", c.id}}), c.reply) << c.endpoint << " " << c.id;
    }
    EXPECT_EQ(store.platform().shown_in_folder(), (std::vector<std::string>{"t|r|up.png", "t||a.txt"}));
    EXPECT_EQ(store.platform().opened_files(), std::vector<std::string>{"t||b.txt"});

    // The folder of a transfer is that of its oldest file, ties broken by id.
    EXPECT_EQ(call_text("/open_folder_for_chat", Json::object{{"id", "d1"}, {"type", "download"}}), success);
    EXPECT_EQ(call_text("/open_folder_for_chat", Json::object{{"id", "d1"}, {"type", "Download"}}), success);
    EXPECT_EQ(call_text("/open_folder_for_chat", Json::object{{"id", "none"}, {"type", "upload"}}), success);
    EXPECT_EQ(store.platform().shown_in_folder().back(), "t||a.txt");
    EXPECT_EQ(store.platform().shown_in_folder().size(), 3u);

    const Json view = call("/info_file", Json::object{{"id", "s1"}, {"type", "upload"}});
    EXPECT_EQ(view["id"].string_value(), "s1");
    EXPECT_EQ(view["filepath"].string_value(), "t|r|up.png");
    EXPECT_TRUE(view["status"].is_null());
    EXPECT_EQ(call_text("/info_file", Json::object{{"id", "s1"}}), "null");
}

TEST_F(DeviceHandlersTest, PeerStateChangesThroughTheDevicesTable) {
    db_upsert_device("d1", "S", "A", "");
    db_insert_chat("", "c1", "d1", own_id, "text", "hi");
    EXPECT_EQ(store.text("select unread from devices where id = 'd1'"), "1");
    EXPECT_EQ(call_text("/clear_unread", Json::object{{"id", "d1"}}), success);
    EXPECT_EQ(store.text("select unread from devices where id = 'd1'"), "0");
    EXPECT_EQ(call_text("/clear_unread", Json::object{{"id", "nobody"}}), success);

    const struct {
        Json value;
        bool stored;
    } cases[] = {{Json(1), true}, {Json(true), false}, {Json(1), true}, {Json(0), false}, {Json("1"), false}};
    for (const auto& c : cases) {
        store.ui().clear();
        EXPECT_EQ(call_text("/change_send_notifications", Json::object{{"id", "d1"}, {"send_notifications", c.value}}),
                  success);
        EXPECT_EQ(db_get_device_send_notifications("d1"), c.stored) << c.value.dump();
        EXPECT_EQ(events_of("peers_updated").size(), 1u);
    }
}

TEST_F(DeviceHandlersTest, WakeUpTellsOfPendingFilesOnlyWhenThereAreSome) {
    EXPECT_EQ(call_text("/wake_up", Json::object{}), success);
    EXPECT_TRUE(store.ui().texts().empty());
    call("/pending_files_updated", Json::object{{"files", Json::array{"/a", 5}}});
    store.ui().clear();
    call("/wake_up");
    const std::vector<Json> told = events_of("pending_files_updated");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0]["files"].array_items().size(), 2u);
    EXPECT_EQ(call("/get_pending_files")["files"].array_items().size(), 2u);
}

TEST_F(DeviceHandlersTest, WhoAmIStaysTheSame) {
    const Json first = call("/who_am_i");
    EXPECT_EQ(first["device_id"].string_value(), own_id);
    EXPECT_EQ(call("/who_am_i"), first);
    EXPECT_EQ(call("/get_avatar").dump(), R"({"avatar": "", "status": "success"})");
}

}  // namespace
}  // namespace vandrel::api_test
