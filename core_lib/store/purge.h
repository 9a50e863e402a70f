// Retention: rows older than two days leave the transfer, chat, device and event
// tables in one transaction (devices by their last update, the rest by creation). A
// row exactly at the cut-off stays. Config, shared and pending files are kept.
#pragma once

#include <cstdint>

namespace vandrel {

inline constexpr std::int64_t retention_ms = 172800000;

void db_purge_old_records();
// The same with the clock given, so the boundary can be checked.
void db_purge_records_before(std::int64_t cut_off);

}  // namespace vandrel
