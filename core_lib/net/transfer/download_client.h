// The download client: one thread of the core fetches the queued files to receive from
// their senders over HTTPS ("/download/v1"), up to three at once and one at a time from
// each sender, senders taken in turn. Each file is written through winrt_file_output
// into its partial file (resuming from what an earlier attempt at that file id left),
// progress goes to the interface at most every 2 s, and a whole file moves to a free
// final name. Only files
// of senders in the peer directory are fetched, only from a server that shows the
// sender's key, only the body of a 200 answer and never past the file's size. A file is
// not started when it would leave the disk too little room (disk_room.h); 30 s without
// data, or with less than the minimum rate, ends a file ("timed out"). When a file ends
// the next one starts at once; the 50 ms wait is only for idleness.
#pragma once

#include <memory>
#include <string>

#include "core_lib/net/transfer/output_stream.h"

namespace vandrel {

// Thread body, until the core stops.
void download_loop();

// Starts download_loop on a service thread of the running core.
void start_download_thread();

// The progress record "update_bytes_transferred" of a running download.
std::string download_progress_record(const mesk_output& download);

}  // namespace vandrel
