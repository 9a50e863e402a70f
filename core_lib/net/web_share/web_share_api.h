// The JSON API of the web-share page, under "/http_mode_api/v1" on the web-share server.
// The server has checked the code for the protected paths before any of this runs. Each
// route answers a json object with "status": "success"; a path that no route knows
// gets "" (the server still answers 200, with an empty body). Runs on the server's
// workers.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

// api_path: the path after "/http_mode_api/v1". The body is read as JSON and otherwise
// ignored; nothing here fails.
std::string web_api_dispatch(const std::string& api_path, const std::string& body, const std::string& origin,
                             const std::map<std::string, std::string>& headers);

std::string web_hello_world();
std::string web_os();
std::string web_who_am_i();
std::string web_protected_check_code();
std::string web_login();
std::string web_protected_root_files();
// Every shared file for exactly "/files"; an empty list when anything follows.
std::string web_files(const std::string& api_path);

// The "files" member: each shared file as the store lists it ("id", "name", "type", by
// lower-cased name), with "size" in bytes when the file is there to be read.
Json make_files_reply(const std::vector<Json>& shared_files);

}  // namespace vandrel
