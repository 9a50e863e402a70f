// Totals over a transfer's files for the progress the user sees: {"number_of_files",
// "size_of_files", "bytes_transferred"} as SQLite writes the count and the sums (a sum
// over no rows is ""); the bytes leave out the file in flight.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

Json db_get_download_progress(std::string download_id, std::string file_id);
Json db_get_upload_progress(std::string upload_id, std::string file_id);

}  // namespace vandrel
