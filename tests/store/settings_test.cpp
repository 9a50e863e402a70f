#include "core_lib/store/settings.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include <SQLiteCpp/Exception.h>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/store/config.h"
#include "core_lib/store/service_flags.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

bool is_lower_hex(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::int64_t new_device_events(testing::temp_store& store) {
    return store.number("select count(*) from events where event like '%\"event\": \"new_device\"%'");
}

void lower_peer_flags() {
    peer_refresh_flag() = false;
    discovery_flag() = false;
}

TEST_F(StoreTest, DeviceIdIsMadeOnceAndSurvivesARestart) {
    const std::string id = get_userid();
    EXPECT_EQ(id.size(), 64u);
    EXPECT_TRUE(is_lower_hex(id));
    EXPECT_EQ(db_config_get(true, "userid"), id);
    EXPECT_EQ(get_userid(), id);
    EXPECT_EQ(new_device_events(store), 1);

    store.restart();
    EXPECT_EQ(get_userid(), id);
    EXPECT_EQ(new_device_events(store), 1);
}

TEST_F(StoreTest, NewDeviceEventCarriesTheNewId) {
    const std::string id = get_userid();
    const std::string text = store.text("select event from events");
    std::string err;
    const Json event = Json::parse(text, err);
    EXPECT_EQ(event["event"].string_value(), "new_device");
    EXPECT_EQ(event["device_id"].string_value(), id);
}

class StoredIdLengthTest : public StoreTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(StoredIdLengthTest, AnIdOfAnotherLengthIsReplaced) {
    const std::string stored(GetParam(), 'a');
    db_config_set(true, "userid", stored);
    const std::string id = get_userid();
    EXPECT_NE(id, stored);
    EXPECT_EQ(id.size(), 64u);
    EXPECT_EQ(db_config_get(true, "userid"), id);
    EXPECT_EQ(new_device_events(store), 1);
}

INSTANTIATE_TEST_SUITE_P(Lengths, StoredIdLengthTest, ::testing::Values(0u, 63u, 65u));

TEST_F(StoreTest, AReadErrorMakesNoNewDeviceId) {
    const std::string id = get_userid();
    store.restart();
    store.exec("alter table config rename to config_away");
    EXPECT_THROW(get_userid(), SQLite::Exception);
    store.exec("alter table config_away rename to config");
    EXPECT_EQ(get_userid(), id);
    EXPECT_EQ(new_device_events(store), 1);
}

TEST_F(StoreTest, AnUnreachableDatabaseMakesNoNewValues) {
    store.platform().set_data_folder(store.root() + "/missing/");
    EXPECT_THROW(get_userid(), SQLite::Exception);
    EXPECT_THROW(get_alias(), SQLite::Exception);
    EXPECT_THROW(get_webshare_password(), SQLite::Exception);
    EXPECT_THROW(get_device_hotspot_passphrase(), SQLite::Exception);
    EXPECT_TRUE(store.ui().texts().empty());
    // settings_mutex was let go on the way out.
    EXPECT_TRUE(settings_mutex().try_lock());
    settings_mutex().unlock();
}

TEST_F(StoreTest, ConcurrentFirstCallsMakeOneDeviceId) {
    std::vector<std::string> ids(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ids.size(); ++i) threads.emplace_back([&ids, i] { ids[i] = get_userid(); });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 1u);
    EXPECT_EQ(new_device_events(store), 1);
}

TEST_F(StoreTest, WebShareCodeIsMadeOnceAsFourDigits) {
    const std::string code = get_webshare_password();
    ASSERT_EQ(code.size(), 4u);
    EXPECT_TRUE(std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }));
    EXPECT_EQ(db_config_get(true, "webshare_password"), code);
    EXPECT_EQ(store.ui().actions(), std::vector<std::string>{"device_updated"});
    EXPECT_EQ(get_webshare_password(), code);
    store.restart();
    EXPECT_EQ(get_webshare_password(), code);
    EXPECT_EQ(store.ui().count("device_updated"), 1u);
}

TEST_F(StoreTest, WebShareCodesDifferBetweenDevices) {
    std::set<std::string> codes;
    for (int device = 0; device < 6; ++device) {
        store.exec("delete from config");
        store.restart();
        codes.insert(get_webshare_password());
    }
    EXPECT_GT(codes.size(), 1u);
}

TEST_F(StoreTest, HotspotPassphraseIsRandomMadeOnceAndKeptAcrossRestarts) {
    const std::string key = get_device_hotspot_passphrase();
    ASSERT_EQ(key.size(), 12u);
    EXPECT_EQ(key.find_first_not_of(passphrase_alphabet), std::string::npos) << key;
    EXPECT_EQ(db_config_get(true, "hotspot_passphrase"), key);
    // Made quietly: nothing on screen shows it before a start.
    EXPECT_TRUE(store.ui().texts().empty());
    EXPECT_EQ(get_device_hotspot_passphrase(), key);
    store.restart();
    EXPECT_EQ(get_device_hotspot_passphrase(), key);

    // Another device (a store of its own) gets a key of its own.
    std::set<std::string> keys{key};
    for (int device = 0; device < 4; ++device) {
        store.exec("delete from config");
        store.restart();
        keys.insert(get_device_hotspot_passphrase());
    }
    EXPECT_EQ(keys.size(), 5u);
}

TEST_F(StoreTest, StoredHotspotPassphraseIsReadNotRemade) {
    db_config_set(true, "hotspot_passphrase", " kept-as-stored ");
    EXPECT_EQ(get_device_hotspot_passphrase(), "kept-as-stored");
    db_config_set(true, "hotspot_passphrase", "");
    // Cached for the life of the store.
    EXPECT_EQ(get_device_hotspot_passphrase(), "kept-as-stored");
}

TEST_F(StoreTest, StoredWebShareCodeIsTrimmedAndCached) {
    db_config_set(true, "webshare_password", "  4321 ");
    EXPECT_EQ(get_webshare_password(), "4321");
    db_config_set(true, "webshare_password", "9999");
    EXPECT_EQ(get_webshare_password(), "4321");
    EXPECT_TRUE(store.ui().texts().empty());
}

TEST_F(StoreTest, SetWebSharePasswordTrimsStoresAndAnnounces) {
    set_webshare_password(" 2468 ");
    EXPECT_EQ(db_config_get(true, "webshare_password"), "2468");
    EXPECT_EQ(get_webshare_password(), "2468");
    EXPECT_EQ(store.ui().actions(), std::vector<std::string>{"device_updated"});
}

TEST_F(StoreTest, AliasIsMadeOnceAndRaisesThePeerFlags) {
    lower_peer_flags();
    const std::string alias = get_alias();
    EXPECT_NE(alias.find(' '), std::string::npos);
    EXPECT_EQ(db_config_get(true, "alias_pro"), alias);
    EXPECT_TRUE(peer_refresh_flag());
    EXPECT_TRUE(discovery_flag());
    EXPECT_EQ(store.ui().actions(), std::vector<std::string>{"device_updated"});

    lower_peer_flags();
    EXPECT_EQ(get_alias(), alias);
    store.restart();
    EXPECT_EQ(get_alias(), alias);
    EXPECT_FALSE(peer_refresh_flag());
    EXPECT_EQ(store.ui().count("device_updated"), 1u);
}

TEST_F(StoreTest, SetAliasTrimsDropsBarsAndRaisesThePeerFlags) {
    lower_peer_flags();
    set_alias("  Brave|Zebra| ");
    EXPECT_EQ(get_alias(), "BraveZebra");
    EXPECT_EQ(db_config_get(true, "alias_pro"), "BraveZebra");
    EXPECT_TRUE(peer_refresh_flag());
    EXPECT_TRUE(discovery_flag());
    EXPECT_EQ(store.ui().actions(), std::vector<std::string>{"device_updated"});
}

struct switch_accessors {
    const char* key;
    bool (*get)();
    void (*set)(bool);
};

const switch_accessors switches[] = {
    {"run_on_startup", get_run_on_startup, set_run_on_startup},
    {"run_web_share_on_startup", get_run_web_share_on_startup, set_run_web_share_on_startup},
    {"run_wifi_direct_on_startup", get_run_wifi_direct_on_startup, set_run_wifi_direct_on_startup},
};

class StartupSwitchTest : public StoreTest, public ::testing::WithParamInterface<switch_accessors> {};

TEST_P(StartupSwitchTest, ReadsTrueForNothingOrOneOnly) {
    const auto& s = GetParam();
    EXPECT_TRUE(s.get());
    const std::pair<const char*, bool> stored[] = {
        {"1", true}, {"0", false}, {"", true}, {"yes", false}, {"true", false}};
    for (const auto& [value, expected] : stored) {
        db_config_set(true, s.key, value);
        EXPECT_EQ(s.get(), expected) << '"' << value << '"';
    }
}

TEST_P(StartupSwitchTest, SetterStoresOneOrZeroAndAnnounces) {
    const auto& s = GetParam();
    s.set(false);
    EXPECT_EQ(db_config_get(true, s.key), "0");
    EXPECT_FALSE(s.get());
    s.set(true);
    EXPECT_EQ(db_config_get(true, s.key), "1");
    EXPECT_EQ(store.ui().count("device_updated"), 2u);
}

INSTANTIATE_TEST_SUITE_P(Switches, StartupSwitchTest, ::testing::ValuesIn(switches),
                         [](const auto& param_info) { return std::string(param_info.param.key); });

TEST_F(StoreTest, WebModeRunsExactlyWhileSwitchedOn) {
    EXPECT_EQ(get_web_mode_state(), "unknown");
    EXPECT_FALSE(is_web_mode_running());
    set_web_mode(true);
    EXPECT_EQ(get_web_mode_state(), "1");
    EXPECT_TRUE(is_web_mode_running());
    set_web_mode(false);
    EXPECT_EQ(get_web_mode_state(), "0");
    EXPECT_FALSE(is_web_mode_running());
}

TEST_F(StoreTest, SetWebModeTellsItsListenerAfterTheStateChanged) {
    std::vector<std::pair<bool, std::string>> heard;
    set_web_mode_listener([&](bool on) { heard.emplace_back(on, get_web_mode_state()); });
    set_web_mode(true);
    set_web_mode(false);
    EXPECT_EQ(heard, (std::vector<std::pair<bool, std::string>>{{true, "1"}, {false, "0"}}));
    EXPECT_EQ(store.ui().count("device_updated"), 2u);
}

TEST_F(StoreTest, AvatarIsStoredAsGiven) {
    lower_peer_flags();
    EXPECT_EQ(get_avatar(), "");
    set_avatar(" data:image/jpeg;base64,AAAA ");
    EXPECT_EQ(get_avatar(), " data:image/jpeg;base64,AAAA ");
    EXPECT_TRUE(peer_refresh_flag());
    EXPECT_TRUE(discovery_flag());
    EXPECT_EQ(store.ui().actions(), std::vector<std::string>{"device_updated"});
}

TEST_F(StoreTest, DownloadsFolderIsReadOnceThenKept) {
    db_config_set(true, "downloads_folder", "/first");
    EXPECT_EQ(get_downloads_folder(), "/first");
    db_config_set(true, "downloads_folder", "/behind");
    EXPECT_EQ(get_downloads_folder(), "/first");

    set_downloads_folder("/chosen");
    EXPECT_EQ(db_config_get(true, "downloads_folder"), "/chosen");
    store.exec("alter table config rename to config_away");
    EXPECT_EQ(get_downloads_folder(), "/chosen");
    store.exec("alter table config_away rename to config");
    EXPECT_EQ(store.ui().actions(), std::vector<std::string>{"device_updated"});
}

}  // namespace
}  // namespace vandrel
