#include "core_lib/net/transfer/download_queue.h"

#include "core_lib/net/transfer/transfer_slots.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/service_flags.h"

namespace vandrel {

// The store leaves files that already arrived untouched in each of these updates, in
// the same statement, so a file completing meanwhile is never reopened.

void queue_download(const std::string& file_id, const std::string& download_id) {
    stopped_download_id().remove(download_id);
    db_set_file_received_status(file_id, download_id, "queued");
    set_downloads_pending(true);
}

void requeue_download(const std::string& download_id) {
    stopped_download_id().remove(download_id);
    db_set_download_status(download_id, "queued");
    // Taken up now, not at the download thread's next idle look.
    set_downloads_pending(true);
}

void stop_download(const std::string& download_id) {
    db_set_download_status(download_id, "stopped");
    stopped_download_id().add(download_id);
}

}  // namespace vandrel
