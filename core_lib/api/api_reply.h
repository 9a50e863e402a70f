// The reply envelope of the JSON API: one object with "status" ("success" or "error")
// beside the reply's data keys; errors add "error_code" or "error_message". Each
// function returns the serialised text (keys in byte order).
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

// {"status": "success"}
std::string reply_success();
// The data keys with "status": "success" added.
std::string reply_success_with(Json::object data);
// {"error_code": code, "status": "error"}
std::string reply_error_code(const std::string& code);
// {"error_message": message, "status": "error"}
std::string reply_error_message(const std::string& message);
// {"endpoint": endpoint, "error_code": "unknown_endpoint", "status": "error"}
std::string reply_unknown_endpoint(const std::string& endpoint);

inline const std::string error_forbidden = "forbidden";
inline const std::string error_internal = "internal_error";
// A queue of the core is full: nothing was kept, the caller may try again later.
inline const std::string error_busy = "busy";
// A run of the self test is going: one at a time.
inline const std::string error_tests_running = "tests_running";
// Refusals of what peers send: a text over its limit, too many files, an id that may
// name nothing stored, an id another sender holds.
inline const std::string error_too_long = "too_long";
inline const std::string error_too_many_files = "too_many_files";
inline const std::string error_invalid_id = "invalid_id";
inline const std::string error_id_taken = "id_taken";
// An offered file's "filesize" is not a decimal byte count.
inline const std::string error_invalid_file_size = "invalid_file_size";
inline const std::string error_not_same_wifi = "_both_devices_are_not_connected_to_the_same_wifi";

}  // namespace vandrel
