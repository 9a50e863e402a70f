// The checks over this device's own peer path: it registers itself as its own peer at
// the address it reaches itself at, calls its own REST server, and sends itself real
// files through the resend loop, the file service and the download client, then
// compares what arrived. Waits poll with deadlines instead of sleeping fixed times.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/file_names.h"
#include "core_lib/net/peers/peer_api.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/net/peers/self_calls.h"
#include "core_lib/net/transfer/output_stream.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/selftest/self_test_run.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/peer_addresses.h"
#include "core_lib/store/received_files.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t fake_sizes[] = {0, 1000, 1000000, 100000000};
constexpr std::size_t block_bytes = 1000;
// From the upload to its download stored over the loop-back.
constexpr auto delivery_limit = 60s;
// The transfers end when every file arrived, or when none grew for this long.
constexpr auto transfer_stall_limit = 60s;
constexpr auto transfer_poll = 100ms;

std::string fake_name(std::uint64_t size) { return "vandrel" + std::to_string(size) + ".fakedata"; }

// The file on disk a storage path names, when it is there.
std::string file_on_disk(const std::string& storage_path) {
    return storage_path.empty() ? std::string() : find_file_in_folder(storage_path);
}

bool readable(const std::string& storage_path) {
    const std::string path = file_on_disk(storage_path);
    return !path.empty() && std::ifstream(path, std::ios::binary).good();
}

// Writes the zero block until `size` bytes are written; true when the file is whole.
bool write_fake_file(const std::string& path, std::uint64_t size) {
    const std::vector<char> block(block_bytes, '\0');
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (std::uint64_t written = 0; out && written < size; written += block_bytes) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        if (!out) return false;
    }
    std::error_code error;
    return std::filesystem::file_size(path, error) == size && !error;
}

void check_sessions(self_test_report& report, const std::string& own_id, const std::string& address) {
    const std::string c = "sessions";
    report.assert_true(c, "session registration  works ", peer_seen(own_id, address));
    report.assert_true(c, "duplicate session registration works ", peer_seen(own_id, address));
    report.assert_equals(c, "registered session is active ", address, get_peer_ip(own_id));
}

void check_session_requests(self_test_report& report, const std::string& own_id) {
    const std::string c = "session";
    const struct {
        const char* endpoint;
        const char* not_empty_label;
        const char* time_label;
    } requests[] = {
        {"/bogus", "session request doesn't return empty string",
         "session request on local host takes less than 100 milliseconds"},
        {"/bogus2", "session request2 doesn't return empty string",
         "session request2 on local host takes less than 100 milliseconds"},
    };
    for (const auto& r : requests) {
        const std::int64_t t0 = now_ms();
        const std::string reply = post_to_peer_api(own_id, r.endpoint, "");
        const std::int64_t t1 = now_ms();
        report.assert_true(c, r.not_empty_label, !reply.empty());
        report.assert_less_than(c, r.time_label, 100, static_cast<std::uint64_t>(t1 > t0 ? t1 - t0 : 0));
    }
}

// One fake file on its way: its upload (and download) id and what the download record
// said of it.
struct loopback_file {
    std::uint64_t size = 0;
    std::string name;
    std::string upload_id;
    std::string download_id;
    std::string file_id;
};

// The download of this device's own upload, once the loop-back stored it; null when it
// did not within the limit.
Json wait_for_download(self_test_run& run, const std::string& own_id, const std::string& upload_id) {
    Json taken;
    run.wait_until(
        [&] {
            for (const Json& download : db_get_downloads_from_sender(0, own_id)) {
                if (download["id"].string_value() == upload_id) return true;
            }
            return false;
        },
        delivery_limit);
    for (const Json& download : db_get_downloads_from_sender(0, own_id)) {
        std::cerr << "DOWNLOADS: COMPARING:::" << upload_id << " AND " << download["id"].string_value() << std::endl;
        if (download["id"].string_value() == upload_id) taken = download;
    }
    return taken;
}

void send_to_self(self_test_run& run, loopback_file& file, const std::string& own_id, const std::string& folder) {
    self_test_report& report = run.report;
    const std::string size_text = std::to_string(file.size);
    const std::string path = folder + file.name;
    run.footprint.note_file(path);
    report.assert_true("file_transfers", "file successfully created " + path, write_fake_file(path, file.size));

    file.upload_id = random_string();
    run.footprint.note_loopback(file.upload_id, file.name);
    run.footprint.note_chat(file.upload_id, own_id);
    run.footprint.note_upload(file.upload_id, own_id);
    run.footprint.note_download(file.upload_id, own_id);
    // The file service reads what it offers through storage paths: the fake file is
    // offered inside the granted temporary folder.
    const std::string storage_path = storage_path_for_file(folder, path);
    const Json created = self_test_call(
        "/create_upload",
        Json::object{{"id", file.upload_id},
                     {"receiver", own_id},
                     {"sender", own_id},
                     {"files", Json::array{Json::object{{"filename", file.name},
                                                        {"fileurl", storage_path.empty() ? path : storage_path},
                                                        {"isDirectory", "false"},
                                                        {"filesize", size_text}}}}});
    report.assert_equals("api_uploads", "create upload works:" + size_text, "success",
                         created["status"].string_value());

    const Json download = wait_for_download(run, own_id, file.upload_id);
    file.download_id = download["id"].string_value();
    const Json::array& files = download["files"].array_items();
    const std::string c = "api_downloads";
    report.assert_true(c, "new download detected for " + size_text, !file.download_id.empty());
    report.assert_equals(c, "found download for " + size_text, file.upload_id, file.download_id);
    report.assert_equals(c, "number of files is 1 for " + size_text, 1, static_cast<std::int64_t>(files.size()));
    if (files.size() == 1) {
        file.file_id = files[0]["id"].string_value();
        report.assert_equals(c, "file names match for " + size_text, file.name, files[0]["filename"].string_value());
    }
    report.assert_true(c, "new download file id not empty for " + size_text, !file.file_id.empty());
    // The loop-back queued the file already; asking again must be harmless, and the copy
    // that may have arrived meanwhile stays (an arrived file is never fetched again).
    const Json fetch =
        self_test_call("/download_file", Json::object{{"file_id", file.file_id}, {"download_id", file.download_id}});
    report.assert_equals("api_download_file", "api get file  works:" + size_text, "success",
                         fetch["status"].string_value());
}

// Bytes on disk of the file, whole or still in its partial file.
std::uint64_t bytes_arrived(const loopback_file& file) {
    if (file.file_id.empty()) return 0;
    std::uint64_t bytes = 0;
    for (const std::string& path :
         {file_on_disk(db_received_file_path(file.file_id)), partial_file_path(file.name, file.file_id)}) {
        std::error_code error;
        const std::uintmax_t size = path.empty() ? 0 : std::filesystem::file_size(path, error);
        if (!error) bytes += size;
    }
    return bytes;
}

// Where the store says the file arrived; "" until it did.
std::string arrived_at(const loopback_file& file) {
    return file.file_id.empty() ? "" : db_received_file_path(file.file_id);
}

bool arrived(const loopback_file& file) {
    const std::string target = arrived_at(file);
    return !file_on_disk(target).empty() && get_file_size(target) == file.size;
}

// Until every file arrived, as long as the transfers move.
void wait_for_transfers(self_test_run& run, std::vector<loopback_file>& files) {
    const auto all_arrived = [&] {
        for (const loopback_file& file : files) {
            if (!arrived(file)) return false;
        }
        return true;
    };
    std::uint64_t last_total = 0;
    auto last_move = std::chrono::steady_clock::now();
    while (!all_arrived() && !run.stopping()) {
        std::uint64_t total = 0;
        for (const loopback_file& file : files) total += bytes_arrived(file);
        const auto now = std::chrono::steady_clock::now();
        if (total != last_total) {
            last_total = total;
            last_move = now;
        } else if (now - last_move > transfer_stall_limit) {
            break;
        }
        run.wait_until([] { return false; }, transfer_poll);
    }
    for (const loopback_file& file : files) {
        if (arrived(file)) run.footprint.note_loopback_settled(file.upload_id);
    }
}

void check_file_transfers(self_test_run& run, const std::string& own_id) {
    self_test_report& report = run.report;
    std::vector<loopback_file> files;
    for (const std::uint64_t size : fake_sizes) files.push_back({size, fake_name(size), "", "", ""});

    // No copy of an earlier run may stand in for this one's.
    for (const loopback_file& file : files) {
        const std::string target = download_target_for_file(file.name);
        const std::string path = target.empty() ? "" : resolve_storage_path(target);
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove(path, ignored);
        report.assert_true("files", " file doesn't exist " + std::to_string(file.size), !readable(target));
    }

    const std::string folder = get_local_folder_path();
    for (loopback_file& file : files) {
        if (run.stopping()) return;
        send_to_self(run, file, own_id, folder);
    }
    wait_for_transfers(run, files);
    if (run.stopping()) return;

    for (const loopback_file& file : files) {
        const std::string target = arrived_at(file);
        report.assert_true("files", " file exists " + target, readable(target));
        report.assert_equals("files", "file size matches for downloads " + target, static_cast<std::int64_t>(file.size),
                             static_cast<std::int64_t>(get_file_size(target)));
    }
}

}  // namespace

void run_loopback_checks(self_test_run& run) {
    const std::string own_id = get_userid();
    const std::string address = own_loopback_address();
    self_test_report& report = run.report;
    run_guarded(run, "sessions", [&] { check_sessions(report, own_id, address); });
    run_guarded(run, "session", [&] { check_session_requests(report, own_id); });
    run_guarded(run, "files", [&] { check_file_transfers(run, own_id); });
}

}  // namespace vandrel
