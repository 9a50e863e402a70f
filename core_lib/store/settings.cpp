#include "core_lib/store/settings.h"

#include <exception>
#include <iostream>

#include "MeskRuntimeComponent/ui_event_channel.h"
#include "core_lib/foundation/alias_words.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/json.h"
#include "core_lib/foundation/sha256.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/analytics_events.h"
#include "core_lib/net/service_flags.h"
#include "core_lib/net/web_mode.h"
#include "core_lib/store/config.h"

namespace vandrel {

std::mutex settings_mutex;

namespace {

// Guarded by settings_mutex.
std::string cached_webshare_password;
std::string cached_alias;
std::string cached_downloads_folder;
bool downloads_folder_first_read = true;

// The id has locks of its own: it is read inside store operations once cached, and
// making it must happen once however many threads ask first.
std::mutex userid_cache_mutex;
std::string cached_userid;         // guarded by userid_cache_mutex
std::mutex userid_make_mutex;      // serialises the first read; taken before db_lock

void send_device_updated() { send_to_ui(Json(Json::object{{"action", "device_updated"}}).dump()); }

void raise_peer_flags() {
    peer_refresh_flag = true;
    discovery_flag = true;
}

std::string make_webshare_code() { return std::to_string(random_int(1000, 9999)); }

std::string cached_userid_copy() {
    std::lock_guard<std::mutex> lock(userid_cache_mutex);
    return cached_userid;
}

bool startup_switch(const char* key) {
    const std::string value = db_config_get(true, key);
    return value.empty() || value == "1";
}

void set_startup_switch(const char* key, bool on) {
    db_config_set(true, key, on ? "1" : "0");
    send_device_updated();
}

// Reads a made-once setting under settings_mutex; makes and stores it when the row is
// missing or empty. Returns the value and whether it was made.
template <class Make>
std::pair<std::string, bool> read_or_make(std::string& cache, const char* key, Make make) {
    std::lock_guard<std::mutex> lock(settings_mutex);
    if (!cache.empty()) return {cache, false};
    std::string value = trim(db_config_get(true, key));
    if (!value.empty()) {
        cache = value;
        return {value, false};
    }
    value = make();
    db_config_set(true, key, value);
    cache = value;
    return {value, true};
}

}  // namespace

std::string get_userid() {
    std::string id = cached_userid_copy();
    if (!id.empty()) return id;
    {
        std::lock_guard<std::mutex> make_lock(userid_make_mutex);
        id = cached_userid_copy();
        if (!id.empty()) return id;
        const std::string stored = db_config_get(true, "userid");
        if (stored.size() == 64) {
            std::lock_guard<std::mutex> lock(userid_cache_mutex);
            cached_userid = stored;
            return stored;
        }
        id = sha256_hex(random_string());
        db_config_set(true, "userid", id);
        std::lock_guard<std::mutex> lock(userid_cache_mutex);
        cached_userid = id;
    }
    try {
        record_new_device_event();
    } catch (const std::exception& e) {
        std::cerr << "new device event: " << e.what() << "\n";
    }
    return id;
}

std::string get_webshare_password() {
    auto [code, made] = read_or_make(cached_webshare_password, "webshare_password", make_webshare_code);
    if (made) send_device_updated();
    return code;
}

void set_webshare_password(std::string password) {
    password = trim(std::move(password));
    {
        std::lock_guard<std::mutex> lock(settings_mutex);
        db_config_set(true, "webshare_password", password);
        cached_webshare_password = password;
    }
    send_device_updated();
}

std::string get_alias() {
    auto [alias, made] = read_or_make(cached_alias, "alias_pro", random_alias);
    if (made) {
        send_device_updated();
        raise_peer_flags();
    }
    return alias;
}

void set_alias(std::string alias) {
    alias = trim(erase_all(std::move(alias), "|"));
    {
        std::lock_guard<std::mutex> lock(settings_mutex);
        db_config_set(true, "alias_pro", alias);
        cached_alias = alias;
    }
    send_device_updated();
    raise_peer_flags();
}

bool is_web_mode_running() { return get_web_mode_state() == "1"; }

void set_web_mode(bool on) {
    if (on) {
        set_web_mode_state("1");
        start_web_mode();
    } else {
        set_web_mode_state("0");
        clear_web_mode_thread();
    }
    send_device_updated();
}

bool get_run_on_startup() { return startup_switch("run_on_startup"); }
bool get_run_web_share_on_startup() { return startup_switch("run_web_share_on_startup"); }
bool get_run_wifi_direct_on_startup() { return startup_switch("run_wifi_direct_on_startup"); }
void set_run_on_startup(bool on) { set_startup_switch("run_on_startup", on); }
void set_run_web_share_on_startup(bool on) { set_startup_switch("run_web_share_on_startup", on); }
void set_run_wifi_direct_on_startup(bool on) { set_startup_switch("run_wifi_direct_on_startup", on); }

std::string get_avatar() { return db_config_get(true, "avatar_pro"); }

void set_avatar(std::string data_url) {
    db_config_set(true, "avatar_pro", std::move(data_url));
    send_device_updated();
    raise_peer_flags();
}

std::string get_downloads_folder() {
    std::lock_guard<std::mutex> lock(settings_mutex);
    if (downloads_folder_first_read) {
        cached_downloads_folder = db_config_get(true, "downloads_folder");
        downloads_folder_first_read = false;
    }
    return cached_downloads_folder;
}

void set_downloads_folder(std::string folder) {
    {
        std::lock_guard<std::mutex> lock(settings_mutex);
        db_config_set(true, "downloads_folder", folder);
        cached_downloads_folder = std::move(folder);
        downloads_folder_first_read = false;
    }
    send_device_updated();
}

void settings_forget_cached() {
    {
        std::lock_guard<std::mutex> lock(settings_mutex);
        cached_webshare_password.clear();
        cached_alias.clear();
        cached_downloads_folder.clear();
        downloads_folder_first_read = true;
    }
    std::lock_guard<std::mutex> make_lock(userid_make_mutex);
    std::lock_guard<std::mutex> lock(userid_cache_mutex);
    cached_userid.clear();
}

}  // namespace vandrel
