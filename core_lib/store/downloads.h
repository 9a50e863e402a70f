// The receiving side of transfers: one downloads row per incoming transfer (keyed by
// its chat id) and one files_to_receive row per file, tied by download_id, moving
// through "queued", "stopped", "complete", "error" and "complete_sent". Ids held by one
// sender are never taken over by another, and a file that arrived ("complete",
// "complete_sent") is never queued or stopped again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

// Stores the download and its files ("id", "filename", "filesize", "fileurl" read as
// texts), every file "queued", in one transaction; then sets downloads_pending. False,
// with nothing stored, when an id is unsafe or the download, its chat or one of its
// files is held by another sender. Files of this download that arrived already are
// not queued again; those whose arrival the sender had been told are back to
// "complete", so that it is told again (an offer made again was reset on its side).
bool db_store_download(const std::vector<Json>& files, std::string account, std::string download_id, std::string sender,
                       std::string receiver);
// Whether db_store_download would take these files from that sender now: every id
// safe, none held by another sender. Reads only.
bool db_may_store_download(const std::vector<Json>& files, std::string download_id, std::string sender);
// Sets the status of the file of that id and download. When that makes a file
// "complete", notes "_received_" + name in the sender's summary with one more unread
// and sends "peers_updated".
void db_set_file_received_status(std::string file_id, std::string download_id, std::string status);
// Every file of the download that has not arrived; "queued" also sets
// bytes_transferred to 0.
void db_set_download_status(std::string download_id, std::string status);
// Each listed file (by "id"), in one transaction; "queued" also sets bytes to 0.
void db_set_files_to_receive_status(std::string status, const std::vector<Json>& files);
// {"id", "bytes_transferred", "filesize", "chat_id"}, most recently stored first.
std::vector<Json> db_get_files_to_receive(std::string sender, std::string status, int limit);
// {"file_id", "download_id"} of the sender's queued file stored last, or null.
Json db_get_next_queued_file_to_receive(std::string sender);
void db_set_file_to_receive_progress(std::uint64_t bytes, std::string file_id);
// {"id", "filename", "filesize", "sender", "fileurl"}, or null.
Json db_get_file_to_receive(std::string file_id);
// The sender's downloads created after `since` (all for 0), newest first, at most 100,
// each with "files": [{"id", "filename", "filesize", "sender"}] by ascending id.
std::vector<Json> db_get_downloads_from_sender(std::uint64_t since, std::string sender);

}  // namespace vandrel
