// The checks that drive the JSON API as a caller does, with a fabricated device, chat,
// upload and download. Reads of what a chat stores wait for the chat lane first: the
// handlers answer before a long chat is kept.
#include <chrono>
#include <iostream>
#include <string>

#include "core_lib/api/background_jobs.h"
#include "core_lib/api/request_values.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/selftest/client_mock.h"
#include "core_lib/selftest/self_test_run.h"
#include "core_lib/selftest/wifi_checks.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

using namespace std::chrono_literals;

constexpr auto chat_lane_limit = 30s;

std::string status_of(const Json& reply) { return reply["status"].string_value(); }

// The first element whose "id" is `id` (or the last one, when `last`); null when none.
Json record_with_id(const Json& records, const std::string& id, bool last = false) {
    Json found;
    for (const Json& record : records.array_items()) {
        if (record["id"].string_value() != id) continue;
        found = record;
        if (!last) break;
    }
    return found;
}

// The chats of one type among a page of chats.
Json::array chats_of_type(const Json& chats, const std::string& type) {
    Json::array taken;
    for (const Json& chat : chats.array_items()) {
        if (chat["type"].string_value() == type) taken.push_back(chat);
    }
    return taken;
}

void wait_for_chats() {
    if (!wait_for_chat_lane(chat_lane_limit)) std::cerr << "self test: chats still being processed\n";
}

void check_plain_endpoints(self_test_report& report) {
    const std::string c = "api";
    report.assert_equals(c, "unknown api endpoint fails", "error", status_of(self_test_call("/unknown_api_endpoint")));
    report.assert_equals(c, "hello world works", "success", status_of(self_test_call("/hello_world")));
    const Json pong = self_test_call("/ping", Json::object{{"device_id", get_userid()}});
    report.assert_equals(c, "ping pong works", "success", status_of(pong));
    report.assert_equals(c, "ping returns remote device id", get_userid(), pong["remote_id"].string_value());
}

void check_client_start(self_test_report& report, client_mock& mock) {
    const std::string c = "api";
    const Json init = self_test_call("/who_am_i");
    report.assert_equals(c, "request init succeeds", "success", status_of(init));
    report.assert_not_empty(c, "request init contains alias", init["alias"].string_value());
    report.assert_not_empty(c, "request init contains sys_info", init["sys_info"].string_value());
    report.assert_not_empty(c, "request init contains device_id", init["device_id"].string_value());
    mock.alias = init["alias"].string_value();
    mock.sys_info = init["sys_info"].string_value();
    mock.device_id = init["device_id"].string_value();
}

void check_device_creation(self_test_report& report) {
    const std::string c = "api";
    const struct {
        const char* id;
        const char* sys_info;
        const char* alias;
        const char* label;
        const char* expected;
    } cases[] = {
        {"", "fake operating system", "fake device", "add device with empty id fails", "error"},
        {"fake_device", "", "fake device", "add device with empty sys_info fails", "error"},
        {"fake_device", "fake operating system", " ", "add device with empty alias fails", "error"},
        {"fake_device", "fake operating system", "fake device", "create_device succeeds", "success"},
    };
    for (const auto& d : cases) {
        const Json reply =
            self_test_call("/create_device", Json::object{{"id", d.id}, {"sys_info", d.sys_info}, {"alias", d.alias}});
        report.assert_equals(c, d.label, d.expected, status_of(reply));
    }
}

// A client's pull: the devices changed since its last one, beside this device's own
// identity and network.
struct device_pull {
    std::string status;
    Json devices_reply;
    Json info;
};

device_pull pull_devices(std::uint64_t since) {
    device_pull pull;
    pull.devices_reply =
        self_test_call("/get_recently_changed_devices", Json::object{{"last_pull_devices", std::to_string(since)}});
    pull.info = self_test_call("/get_device_info");
    pull.status = status_of(pull.devices_reply);
    if (pull.status == "success") pull.status = status_of(pull.info);
    return pull;
}

void check_pulls(self_test_report& report, client_mock& mock) {
    const std::string c = "api";
    const device_pull first = pull_devices(mock.last_pull_devices);
    const Json& devices = first.devices_reply["devices"];
    report.assert_equals(c, "pull succeeds", "success", first.status);
    report.assert_not_empty(c, "pull contains device id", first.info["id"].string_value());
    check_wifi_value(report, c, "pull contains device ssid", first.info["ssid"].string_value(), get_wifi_bssid());
    report.assert_not_empty(c, "pull contains device sys_info", first.info["sys_info"].string_value());
    report.assert_not_empty(c, "pull contains device alias", first.info["alias"].string_value());
    report.assert_not_empty(c, "pull returns last pull value", first.devices_reply["last_pull_devices"].string_value());
    report.assert_true(c, "pull returns an array of devices", devices.is_array());
    report.assert_true(c, "pull returns a non empty array of devices", !devices.array_items().empty());
    const Json fake = record_with_id(devices, "fake_device", true);
    report.assert_true(c, "pull returned fake device", !fake.is_null());
    report.assert_equals(c, "pull returned fake device with correct device id", fake["id"].string_value(),
                         "fake_device");
    report.assert_equals(c, "pull returned fake device with correct sys_info", fake["sys_info"].string_value(),
                         "fake operating system");
    report.assert_equals(c, "pull returned fake device with correct alias", fake["alias"].string_value(),
                         "fake device");
    mock.apply_devices(devices);
    report.assert_true(c, "mock's last_pull_devices is greater than 0", mock.last_pull_devices > 0);

    const device_pull second = pull_devices(mock.last_pull_devices);
    const Json& changed = second.devices_reply["devices"];
    report.assert_equals(c, "second pull succeeds", "success", second.status);
    report.assert_equals(c, "second pull returns unchanged last_pull_devices value",
                         second.devices_reply["last_pull_devices"].string_value(),
                         std::to_string(mock.last_pull_devices));
    report.assert_true(c, "second pull returns an array of devices", changed.is_array());
    // Nothing the suite made changed in between; a peer of a live network may have been
    // seen meanwhile, and only such a change may come back.
    bool only_new = true;
    for (const Json& device : changed.array_items()) {
        const std::uint64_t updated = parse_u64_or_zero(device["date_updated"].string_value());
        only_new = only_new && device["id"].string_value() != "fake_device" && updated > mock.last_pull_devices;
    }
    report.assert_true(c, "second pull returns an empty array of devices", only_new);
}

void check_chats(self_test_run& run) {
    self_test_report& report = run.report;
    const std::string c = "api_chats";
    const std::string chat_id = random_string();
    const std::string text = random_string();
    run.footprint.note_chat(chat_id, "fake_device");
    const Json created = self_test_call(
        "/create_chat",
        Json::object{
            {"id", chat_id}, {"sender", "fake_device"}, {"receiver", get_userid()}, {"data", text}, {"type", "text"}});
    report.assert_equals(c, "create chat with text works", "success", status_of(created));
    wait_for_chats();
    const Json bogus = self_test_call("/get_chats_for_peer", Json::object{{"peer", "bogus"}, {"start", "0"}});
    report.assert_equals(c, "get chats with bogus peer succeeds ", "success", status_of(bogus));
    report.assert_true(c, "get chats for fake_device  returns empty chat array", bogus["chats"].array_items().empty());
    const Json page = self_test_call("/get_chats_for_peer", Json::object{{"peer", "fake_device"}, {"start", "0"}});
    report.assert_equals(c, "get chats for fake_device succeeds", "success", status_of(page));
    report.assert_true(c, "get chats for fake_device  returns a non empty chat array",
                       !page["chats"].array_items().empty());
    const Json chat = record_with_id(page["chats"], chat_id);
    report.assert_equals(c, "get chat returned fake chat id", chat_id, chat["id"].string_value());
    report.assert_equals(c, "get chat returned fake chat text type", "text", chat["type"].string_value());
    report.assert_equals(c, "get chat returned fake chat text", text, chat["data"].string_value());
    report.assert_true(c, "get chat returned fake chat sent status", !chat["sent"].is_null());
    report.assert_true(c, "mark chat as read", db_mark_chat_sent(chat_id));
}

// n fabricated file entries; `with_ids` gives each an id and a random size.
Json::array fabricated_entries(bool with_ids) {
    Json::array files;
    const int n = random_int(1, 10);
    for (int i = 0; i < n; ++i) {
        Json::object entry{{"filename", random_string()},
                           {"fileurl", random_string() + ".pdf"},
                           {"isDirectory", "false"},
                           {"filesize", "2345678"}};
        if (with_ids) {
            entry["id"] = random_string();
            entry["filesize"] = std::to_string(random_int(100, 1000000));
        }
        files.push_back(std::move(entry));
    }
    return files;
}

void check_uploads(self_test_run& run) {
    self_test_report& report = run.report;
    const std::string c = "api_uploads";
    const std::string own_id = get_userid();
    const std::string upload_id = random_string();
    const Json::array files = fabricated_entries(false);
    run.footprint.note_chat(upload_id, own_id);
    run.footprint.note_upload(upload_id, own_id);
    const Json created = self_test_call(
        "/create_upload",
        Json::object{{"id", upload_id}, {"receiver", "fake_device"}, {"sender", own_id}, {"files", files}});
    report.assert_equals(c, "create upload works", "success", status_of(created));
    wait_for_chats();
    // The uploads to a peer are its conversation's chats of type "upload".
    const Json bogus = self_test_call("/get_chats_for_peer", Json::object{{"peer", "bogus"}, {"start", "0"}});
    report.assert_equals(c, "get uploads with bogus peer succeeds ", "success", status_of(bogus));
    report.assert_true(c, "get chats for fake_device  returns empty uploads array",
                       chats_of_type(bogus["chats"], "upload").empty());
    const Json page = self_test_call("/get_chats_for_peer", Json::object{{"peer", "fake_device"}, {"start", "0"}});
    const Json uploads = chats_of_type(page["chats"], "upload");
    report.assert_equals(c, "get uploads for fake_device succeeds", "success", status_of(page));
    report.assert_true(c, "get uploads for fake_device  returns a non empty uploads array",
                       !uploads.array_items().empty());
    const Json upload = record_with_id(uploads, upload_id);
    report.assert_equals(c, "get uploads returned fake upload id", upload_id, upload["id"].string_value());
    report.assert_equals(c, "get upload returned right number of files", static_cast<std::int64_t>(files.size()),
                         static_cast<std::int64_t>(upload["files"].array_items().size()));
}

void check_downloads(self_test_run& run) {
    self_test_report& report = run.report;
    const std::string c = "api_downloads";
    const std::string download_id = random_string();
    const Json::array files = fabricated_entries(true);
    run.footprint.note_chat(download_id, "fake_device");
    run.footprint.note_download(download_id, "fake_device");
    const Json created = self_test_call(
        "/create_download",
        Json::object{{"id", download_id}, {"sender", "fake_device"}, {"receiver", get_userid()}, {"files", files}});
    report.assert_equals(c, "create download works", "success", status_of(created));
    wait_for_chats();
    const Json bogus = self_test_call("/get_new_downloads", Json::object{{"peer", "bogus"}, {"start", "0"}});
    report.assert_equals(c, "get downloads with bogus peer succeeds ", "success", status_of(bogus));
    report.assert_true(c, "get downloads for fake_device  returns empty download array",
                       bogus["downloads"].array_items().empty());
    const std::string text =
        self_test_call_text("/get_new_downloads", Json::object{{"peer", "fake_device"}, {"start", "0"}});
    std::cerr << "UNITTEST:" << text << std::endl;
    std::string parse_error;
    const Json page = Json::parse(text, parse_error);
    report.assert_equals(c, "get downloads for fake_device succeeds", "success", status_of(page));
    report.assert_true(c, "get downloads for fake_device  returns a non empty downloads array",
                       !page["downloads"].array_items().empty());
    const Json download = record_with_id(page["downloads"], download_id);
    report.assert_equals(c, "get downloads returned fake download id", download_id, download["id"].string_value());
    report.assert_equals(c, "get download returned correct number of files", static_cast<std::int64_t>(files.size()),
                         static_cast<std::int64_t>(download["files"].array_items().size()));
}

void check_new_settings(self_test_run& run) {
    self_test_report& report = run.report;
    const std::string c = "api new_settings";
    run.footprint.note_alias("Test Alias2");
    const Json reply = self_test_call("/new_settings", Json::object{{"alias", "Test Alias2"}});
    report.assert_equals(c, "new_settings succeeds ", "success", status_of(reply));
    report.assert_equals(c, "new_settings changed alias", "Test Alias2", get_alias());
}

}  // namespace

void run_api_checks(self_test_run& run) {
    self_test_report& report = run.report;
    run_guarded(run, "api", [&] { check_plain_endpoints(report); });
    {
        client_mock mock;
        run_guarded(run, "api", [&] { check_client_start(report, mock); });
        run_guarded(run, "api", [&] { check_device_creation(report); });
        run_guarded(run, "api", [&] { check_pulls(report, mock); });
        run_guarded(run, "api_chats", [&] { check_chats(run); });
        run_guarded(run, "api_uploads", [&] { check_uploads(run); });
        run_guarded(run, "api_downloads", [&] { check_downloads(run); });
    }
    run_guarded(run, "api new_settings", [&] { check_new_settings(run); });
}

}  // namespace vandrel
