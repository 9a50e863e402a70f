#include "core_lib/net/download_queue.h"

#include <set>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/net/service_flags.h"
#include "core_lib/net/transfer_slots.h"
#include "core_lib/store/chat_views.h"
#include "core_lib/store/downloads.h"

namespace vandrel {

namespace {

constexpr int file_page_size = 1000;
// Far above what one sender has stored within the retention time.
constexpr int completed_scan_limit = 1000000;

std::vector<std::string> file_ids_of_download(const std::string& download_id) {
    std::vector<std::string> ids;
    for (int page = 0;; ++page) {
        const Json entries = db_get_download_file_urls(download_id, file_page_size, page);
        for (const Json& entry : entries.array_items()) ids.push_back(entry["id"].string_value());
        if (entries.array_items().size() < static_cast<std::size_t>(file_page_size)) break;
    }
    return ids;
}

std::set<std::string> finished_file_ids(const std::string& download_id, const std::vector<std::string>& file_ids) {
    std::set<std::string> finished;
    if (file_ids.empty()) return finished;
    const std::string sender = db_get_file_to_receive(file_ids.front())["sender"].string_value();
    for (const char* status : {"complete", "complete_sent"}) {
        for (const Json& file : db_get_files_to_receive(sender, status, completed_scan_limit)) {
            if (file["chat_id"].string_value() == download_id) finished.insert(file["id"].string_value());
        }
    }
    return finished;
}

// The download's files that are not complete, as the objects the status update takes.
std::vector<Json> unfinished_files(const std::string& download_id) {
    const std::vector<std::string> ids = file_ids_of_download(download_id);
    const std::set<std::string> finished = finished_file_ids(download_id, ids);
    std::vector<Json> files;
    for (const std::string& id : ids) {
        if (!finished.count(id)) files.push_back(Json::object{{"id", id}});
    }
    return files;
}

}  // namespace

void queue_download(const std::string& file_id, const std::string& download_id) {
    stopped_download_id.remove(download_id);
    if (finished_file_ids(download_id, {file_id}).count(file_id)) return;
    db_set_file_received_status(file_id, download_id, "queued");
    set_downloads_pending(true);
}

void requeue_download(const std::string& download_id) {
    stopped_download_id.remove(download_id);
    const std::vector<Json> files = unfinished_files(download_id);
    if (!files.empty()) db_set_files_to_receive_status("queued", files);
}

void stop_download(const std::string& download_id) {
    const std::vector<Json> files = unfinished_files(download_id);
    if (!files.empty()) db_set_files_to_receive_status("stopped", files);
    stopped_download_id.add(download_id);
}

}  // namespace vandrel
