// This device's settings over the config table: id, alias, avatar, web-share code,
// hotspot passphrase, downloads folder, the three start-up switches and the web-mode
// switch. The id, the alias, the code and the passphrase are made once, when their row
// is missing or empty, and stored at once; a failed read is an SQLite::Exception and
// never makes a new value.
// Lock order: settings_mutex, then db_lock. None of these may be called while holding
// db_lock, except get_userid once the id is cached.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "core_lib/store/app_version.h"

namespace vandrel {

struct settings_cache {
    // Guards the cached alias, web-share code, hotspot passphrase and downloads folder.
    std::mutex settings_mutex;
    std::string webshare_password;
    std::string hotspot_passphrase;
    std::string alias;
    std::string downloads_folder;
    bool downloads_folder_first_read = true;

    // The id has locks of its own: it is read inside store operations once cached, and
    // making it must happen once however many threads ask first.
    std::mutex userid_cache_mutex;
    std::string userid;            // guarded by userid_cache_mutex
    std::mutex userid_make_mutex;  // serialises the first read; taken before db_lock

    // "unknown" at start, "1" while web share is on, "0" after it was switched off.
    std::mutex web_mode_mutex;
    std::string web_mode_state = "unknown";
    // Told of every switch, after the state changed; the web-share server follows it.
    std::function<void(bool on)> web_mode_listener;
};

// The running core's settings_mutex.
std::mutex& settings_mutex();

// 64 lower-case hexadecimal characters; made (and a "new_device" event recorded) when
// the stored id is missing or not 64 characters long.
std::string get_userid();

// Trimmed; a random four-digit code made and stored when none is stored.
std::string get_webshare_password();
void set_webshare_password(std::string password);

// The key of this device's hotspot: 12 random characters of passphrase_alphabet, made
// and stored when none is stored.
std::string get_device_hotspot_passphrase();

// Trimmed; a random alias made and stored when none is stored.
std::string get_alias();
// Trims and drops '|' (the announce text must keep three fields).
void set_alias(std::string alias);

bool is_web_mode_running();
// "unknown", "1" or "0".
std::string get_web_mode_state();
// Sets the state, tells the listener, sends "device_updated".
void set_web_mode(bool on);
// Who follows the switch (the web-share server); an empty function: nobody.
void set_web_mode_listener(std::function<void(bool on)> listener);
// The listener could not switch web share on: the state reads "0" again. The listener
// is not told; set_web_mode sends "device_updated" once the listener has returned.
void set_web_mode_failed();

// True when the stored text is "" or "1".
bool get_run_on_startup();
bool get_run_web_share_on_startup();
bool get_run_wifi_direct_on_startup();
void set_run_on_startup(bool on);
void set_run_web_share_on_startup(bool on);
void set_run_wifi_direct_on_startup(bool on);

// The data URL as stored; "" when none.
std::string get_avatar();
void set_avatar(std::string data_url);

// Read from the config once, then kept.
std::string get_downloads_folder();
void set_downloads_folder(std::string folder);

// Forgets every cached value (the database is being closed).
void settings_forget_cached();

}  // namespace vandrel
