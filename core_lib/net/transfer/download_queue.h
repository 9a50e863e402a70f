// Putting received files back in the download queue and taking them out of it, for
// the request handlers. Files already complete are never queued again nor marked
// stopped; queueing a download's file clears that download's stop.
#pragma once

#include <string>

namespace vandrel {

// One file of a download back to "queued", keeping the bytes already received so the
// transfer resumes; wakes the download thread.
void queue_download(const std::string& file_id, const std::string& download_id);

// Every unfinished file of the download back to "queued" from its first byte; wakes the
// download thread.
void requeue_download(const std::string& download_id);

// Every unfinished file of the download to "stopped", and the download's running file
// ended by the transfer code through stopped_download_id.
void stop_download(const std::string& download_id);

}  // namespace vandrel
