// The checks that need no request: utilities, platform services, the config store,
// settings and the announce datagram.
#include <string>

#include "core_lib/foundation/announce_datagram.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/mime_types.h"
#include "core_lib/foundation/sha256.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/selftest/self_test_run.h"
#include "core_lib/selftest/wifi_checks.h"
#include "core_lib/store/announce_text.h"
#include "core_lib/store/config.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

void check_string_utils(self_test_report& report) {
    const std::string c = "string utils";
    const std::string t = "hello world";
    report.assert_true(c, "hash string is not empty", !sha256_hex(t).empty());
    report.assert_true(c, "hash empty string is not empty", !sha256_hex("").empty());
    report.assert_equals(c, "hash same strings produces same hashes", sha256_hex(t), sha256_hex(t));
    report.assert_equals(c, "hash is always 64 characters", 64, static_cast<std::int64_t>(sha256_hex(t).size()));
    report.assert_equals(c, "random string are always 64 characters", 64,
                         static_cast<std::int64_t>(random_string().size()));
    const std::string first = random_string();
    const std::string second = random_string();
    report.assert_true(c, "random strings are different on subsequent calls", first != second);
}

void check_platform(self_test_report& report) {
    const std::string c = "platform";
    report.assert_not_empty(c, "sys_info not empty", get_device_model());
    const std::string ssid = get_wifi_ssid();
    const std::string bssid = get_wifi_bssid();
    check_wifi_value(report, c, "ssid not empty", ssid, bssid);
    check_wifi_value(report, c, "bssid not empty", bssid, ssid);
    report.assert_not_empty(c, "data folder is not empty", get_data_folder_path());
    report.assert_true(c, "alerts implemented", show_toast("Yoopiee", "Vandrel Alerts work"));

    const struct {
        const char* label;
        const char* file_name;
        const char* type;
    } mime_cases[] = {
        {"correct mime type for jpg", "test.jpg", "image/jpeg"},
        {"correct mime type for png", "test.png", "image/png"},
        {"correct mime type for jpeg", "test.JPEG", "image/jpeg"},
        {"correct mime type for mp4", "movie.MP4", "video/mp4"},
        {"correct mime type for mkv", "movie.mkv", "video/x-matroska"},
        {"correct mime type for avi", "movie.avi", "video/x-msvideo"},
        {"correct mime type for flv", "movie.flv", "video/x-flv"},
        {"correct mime type for m4v", "movie.m4v", "video/x-m4v"},
        {"correct mime type for ogv", "movie.ogv", "video/ogg"},
        // The table answers the generic binary type for what it does not know, and the
        // web share and the analytics events rely on that answer.
        {"unknown mime type shows unknown/unknown", "movie.ttt", "application/octet-stream"},
    };
    for (const auto& m : mime_cases) report.assert_equals(c, m.label, mime_type_for(m.file_name), m.type);

    const std::string data_folder = get_data_folder_path();
    const std::string temp_folder = get_local_folder_path();
    report.assert_true(c, "data folder ends with /", !data_folder.empty() && data_folder.back() == '/');
    report.assert_true(c, "temp folder ends with /", !temp_folder.empty() && temp_folder.back() == '/');
    report.assert_not_empty(c, "downloads path is not empty txt", download_target_for_file("test.txt"));
    report.assert_not_empty(c, "downloads path is not empty jpg", download_target_for_file("test.jpg"));
    report.assert_not_empty(c, "downloads path is not empty avi", download_target_for_file("test.mp4"));
}

void check_db(self_test_run& run) {
    const std::string r = random_string();
    db_config_set(true, self_test_config_key, r);
    run.report.assert_equals("db", "db set and get value works", r, db_config_get(true, self_test_config_key));
}

void check_settings(self_test_run& run) {
    self_test_report& report = run.report;
    const std::string c = "settings";
    run.footprint.note_alias("Test Alias");
    set_alias("Test Alias");
    report.assert_equals(c, "getting and setting alias works", "Test Alias", get_alias());
    const std::string first = get_userid();
    report.assert_not_empty(c, "device id is not empty", first);
    const std::string second = get_userid();
    report.assert_equals(c, "device ids are the same between calls", second, first);
    report.assert_equals(c, "device ids are always 64 characters", 64, static_cast<std::int64_t>(second.size()));
}

void check_datagram(self_test_report& report) {
    const std::string c = "datagram";
    std::string id, sys_info, alias;
    report.assert_true(c, "invalid datagram detected", !parse_datagram("fake datagram", id, sys_info, alias));
    const std::string d = make_datagram();
    const bool valid = parse_datagram(d, id, sys_info, alias);
    report.assert_not_empty(c, "device datagram is not empty", d);
    report.assert_true(c, "valid datagram detected", valid);
    report.assert_equals(c, "device id matches", get_userid(), id);
    report.assert_equals(c, "alias matches", get_alias(), alias);
    report.assert_equals(c, "sysinfo matches", get_device_model(), sys_info);
}

}  // namespace

void run_local_checks(self_test_run& run) {
    self_test_report& report = run.report;
    run_guarded(run, "info", [&] { check_assertions_work(report); });
    run_guarded(run, "string utils", [&] { check_string_utils(report); });
    run_guarded(run, "platform", [&] { check_platform(report); });
    run_guarded(run, "db", [&] { check_db(run); });
    run_guarded(run, "settings", [&] { check_settings(run); });
    run_guarded(run, "datagram", [&] { check_datagram(report); });
}

}  // namespace vandrel
