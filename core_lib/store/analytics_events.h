// Usage events for the cloud service: each call builds one record (all values texts:
// "event", "os", "device_id", "version", "date_created", and for file events
// "number_of_files", "size_of_files", "mime_type") and stores it in the events table.
// Must not be called while holding db_lock.
#pragma once

#include <cstdint>
#include <string>

namespace vandrel {

void record_chat_event();
void record_file_download_event(std::uint64_t number_of_files, std::uint64_t size_of_files, std::string mime_type);
void record_file_upload_event(std::uint64_t number_of_files, std::uint64_t size_of_files, std::string mime_type);
void record_new_device_event();

}  // namespace vandrel
