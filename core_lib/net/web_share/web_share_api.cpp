#include "core_lib/net/web_share/web_share_api.h"

#include <sys/stat.h>

#include <exception>
#include <optional>

#include "core_lib/foundation/peer_limits.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/app_version.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/shared_pending.h"

namespace vandrel {

namespace {

std::string success(Json::object members = {}) {
    members["status"] = "success";
    return Json(std::move(members)).dump();
}

// The size of the file on disk that a shared file's path names, when there is one.
std::optional<std::uint64_t> size_on_disk(const std::string& file_id) {
    try {
        const std::string path = db_get_shared_file(file_id)["fileurl"].string_value();
        if (path.empty()) return std::nullopt;
        const std::string local = find_file_in_folder(path);
        struct stat info {};
        if (local.empty() || ::stat(local.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
        return static_cast<std::uint64_t>(info.st_size);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string files_reply() { return success({{"files", make_files_reply(db_get_shared_files())}}); }

}  // namespace

Json make_files_reply(const std::vector<Json>& shared_files) {
    Json::array files;
    files.reserve(shared_files.size());
    for (const Json& shared : shared_files) {
        Json::object entry = shared.object_items();
        if (auto size = size_on_disk(shared["id"].string_value())) entry["size"] = *size;
        files.emplace_back(std::move(entry));
    }
    return files;
}

std::string web_hello_world() { return success(); }

std::string web_os() { return success({{"os", platform_name()}, {"version", app_version()}}); }

std::string web_who_am_i() {
    return success({{"alias", get_alias()}, {"sys_info", get_device_model()}, {"device_id", get_userid()}});
}

std::string web_protected_check_code() { return success(); }

std::string web_login() { return success(); }

std::string web_protected_root_files() { return files_reply(); }

std::string web_files(const std::string& api_path) {
    if (api_path != "/files") return success({{"files", Json::array{}}});
    return files_reply();
}

std::string web_api_dispatch(const std::string& api_path, const std::string& body, const std::string& /*origin*/,
                             const std::map<std::string, std::string>& /*headers*/) {
    // Read as the routes would, though none of them needs anything from it.
    std::string err;
    (void)Json::parse(body, err, limits::json_values_per_request);
    if (api_path == "/hello_world") return web_hello_world();
    if (api_path == "/os") return web_os();
    if (api_path == "/who_am_i") return web_who_am_i();
    if (api_path == "/protected_check_code") return web_protected_check_code();
    if (api_path == "/login") return web_login();
    if (api_path == "/protected_root_files") return web_protected_root_files();
    if (starts_with(api_path, "/files")) return web_files(api_path);
    return "";
}

}  // namespace vandrel
