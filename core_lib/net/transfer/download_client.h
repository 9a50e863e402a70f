// The download client: one thread of the core fetches the queued files to receive, one
// at a time, from their senders over HTTPS ("/download/v1"), writes each through
// winrt_file_output into its partial file (resuming from what an earlier attempt at
// that file id left), reports progress to the interface at most every 2 s, and moves it
// to a free final name once whole. Only files of senders in the peer directory are fetched, only from
// a server that shows the sender's key, only the body of a 200 answer and never past
// the file's size; 30 s without data ends a file ("timed out"). When a file ends the
// next one starts at once; the 50 ms wait is only for idleness.
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
