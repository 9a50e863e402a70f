#include "core_lib/store/settings.h"

#include <exception>
#include <iostream>

#include "core_lib/foundation/alias_words.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/json.h"
#include "core_lib/foundation/sha256.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/analytics_events.h"
#include "core_lib/store/config.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/store_state.h"

namespace vandrel {

namespace {

settings_cache& cache() { return current_store::get().settings; }

void send_device_updated() { send_to_ui(Json(Json::object{{"action", "device_updated"}}).dump()); }

void raise_peer_flags() {
    peer_refresh_flag() = true;
    discovery_flag() = true;
}

std::string make_webshare_code() { return std::to_string(random_int(1000, 9999)); }

constexpr std::size_t hotspot_passphrase_length = 12;

std::string make_hotspot_passphrase() { return random_passphrase(hotspot_passphrase_length); }

std::string cached_userid_copy(settings_cache& c) {
    std::lock_guard<std::mutex> lock(c.userid_cache_mutex);
    return c.userid;
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
std::pair<std::string, bool> read_or_make(std::string settings_cache::*field, const char* key, Make make) {
    settings_cache& c = cache();
    std::lock_guard<std::mutex> lock(c.settings_mutex);
    std::string& cached = c.*field;
    if (!cached.empty()) return {cached, false};
    std::string value = trim(db_config_get(true, key));
    if (!value.empty()) {
        cached = value;
        return {value, false};
    }
    value = make();
    db_config_set(true, key, value);
    cached = value;
    return {value, true};
}

}  // namespace

std::mutex& settings_mutex() { return cache().settings_mutex; }

std::string get_userid() {
    settings_cache& c = cache();
    std::string id = cached_userid_copy(c);
    if (!id.empty()) return id;
    {
        std::lock_guard<std::mutex> make_lock(c.userid_make_mutex);
        id = cached_userid_copy(c);
        if (!id.empty()) return id;
        std::string stored = db_config_get(true, "userid");
        if (stored.size() == 64) {
            std::lock_guard<std::mutex> lock(c.userid_cache_mutex);
            c.userid = stored;
            return stored;
        }
        id = sha256_hex(random_string());
        db_config_set(true, "userid", id);
        std::lock_guard<std::mutex> lock(c.userid_cache_mutex);
        c.userid = id;
    }
    try {
        record_new_device_event();
    } catch (const std::exception& e) {
        std::cerr << "new device event: " << e.what() << "\n";
    }
    return id;
}

std::string get_webshare_password() {
    auto [code, made] = read_or_make(&settings_cache::webshare_password, "webshare_password", make_webshare_code);
    if (made) send_device_updated();
    return code;
}

void set_webshare_password(std::string password) {
    password = trim(std::move(password));
    settings_cache& c = cache();
    {
        std::lock_guard<std::mutex> lock(c.settings_mutex);
        db_config_set(true, "webshare_password", password);
        c.webshare_password = password;
    }
    send_device_updated();
}

std::string get_device_hotspot_passphrase() {
    return read_or_make(&settings_cache::hotspot_passphrase, "hotspot_passphrase", make_hotspot_passphrase).first;
}

std::string get_alias() {
    auto [alias, made] = read_or_make(&settings_cache::alias, "alias_pro", random_alias);
    if (made) {
        send_device_updated();
        raise_peer_flags();
    }
    return alias;
}

void set_alias(std::string alias) {
    alias = trim(erase_all(std::move(alias), "|"));
    settings_cache& c = cache();
    {
        std::lock_guard<std::mutex> lock(c.settings_mutex);
        db_config_set(true, "alias_pro", alias);
        c.alias = alias;
    }
    send_device_updated();
    raise_peer_flags();
}

bool is_web_mode_running() { return get_web_mode_state() == "1"; }

std::string get_web_mode_state() {
    settings_cache& c = cache();
    std::lock_guard<std::mutex> lock(c.web_mode_mutex);
    return c.web_mode_state;
}

void set_web_mode(bool on) {
    settings_cache& c = cache();
    std::function<void(bool)> listener;
    {
        std::lock_guard<std::mutex> lock(c.web_mode_mutex);
        c.web_mode_state = std::string(1, on ? '1' : '0');
        listener = c.web_mode_listener;
    }
    if (listener) listener(on);
    send_device_updated();
}

void set_web_mode_listener(std::function<void(bool on)> listener) {
    settings_cache& c = cache();
    std::lock_guard<std::mutex> lock(c.web_mode_mutex);
    c.web_mode_listener = std::move(listener);
}

void set_web_mode_failed() {
    settings_cache& c = cache();
    std::lock_guard<std::mutex> lock(c.web_mode_mutex);
    c.web_mode_state = std::string(1, '0');
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
    settings_cache& c = cache();
    std::lock_guard<std::mutex> lock(c.settings_mutex);
    if (c.downloads_folder_first_read) {
        c.downloads_folder = db_config_get(true, "downloads_folder");
        c.downloads_folder_first_read = false;
    }
    return c.downloads_folder;
}

void set_downloads_folder(std::string folder) {
    settings_cache& c = cache();
    {
        std::lock_guard<std::mutex> lock(c.settings_mutex);
        db_config_set(true, "downloads_folder", folder);
        c.downloads_folder = std::move(folder);
        c.downloads_folder_first_read = false;
    }
    send_device_updated();
}

void settings_forget_cached() {
    settings_cache& c = cache();
    {
        std::lock_guard<std::mutex> lock(c.settings_mutex);
        c.webshare_password.clear();
        c.hotspot_passphrase.clear();
        c.alias.clear();
        c.downloads_folder.clear();
        c.downloads_folder_first_read = true;
    }
    std::lock_guard<std::mutex> make_lock(c.userid_make_mutex);
    std::lock_guard<std::mutex> lock(c.userid_cache_mutex);
    c.userid.clear();
}

}  // namespace vandrel
