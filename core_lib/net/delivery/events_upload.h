// The usage events leave for the cloud service ("/api/v1/events") in batches of at most
// 100, every 10 s while there are any. The service confirms with "latest_date", the
// watermark kept under "events_last_sent"; events leave the store only at the take that
// follows the confirmation of the batch that carried them, so none is lost when the
// service fails between receiving and answering (they go again instead).
#pragma once

#include <cstdint>
#include <string>

namespace vandrel {

// Thread body, until the core stops.
void events_upload_loop();

// One take and, when there is something, one upload; true when a request went out.
bool upload_events_once();

// The stored watermark; 0 when it is empty or not a number.
std::uint64_t events_watermark();

}  // namespace vandrel
