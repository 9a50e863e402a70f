#include "core_lib/api/presentation_handlers.h"

#include "core_lib/api/api_reply.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/chat_views.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/uploads.h"

namespace vandrel {

namespace {

// {"status": "error"} when the file has no row (so no location), else the platform
// operation on its location and success.
std::string with_file_location(const Json& file, void (*operation)(std::string)) {
    const Json& location = file["fileurl"];
    if (location.is_null()) return Json(Json::object{{"status", "error"}}).dump();
    operation(location.string_value());
    return reply_success();
}

}  // namespace

std::string handle_copy_to_clipboard(Json params, std::string) {
    copy_to_clipboard(params["text"].string_value());
    return reply_success();
}

std::string handle_open_folder_for_chat(Json params, std::string) {
    const std::string& id = params["id"].string_value();
    const std::string& type = params["type"].string_value();
    Json files;
    if (type == "download") {
        files = db_get_download_file_urls(id, 2, 0);
    } else if (type == "upload") {
        files = db_get_upload_file_urls(id, 2, 0);
    }
    if (!files.array_items().empty()) show_in_folder(files[0]["fileurl"].string_value());
    return reply_success();
}

std::string handle_info_file(Json params, std::string) {
    const std::string& type = params["type"].string_value();
    Json view;
    if (type == "upload" || type == "download") view = db_get_transfer_file_json(params["id"].string_value(), type);
    return view.dump();
}

std::string handle_show_downloaded_file(Json params, std::string) {
    return with_file_location(db_get_file_to_receive(params["id"].string_value()), show_in_folder);
}

std::string handle_show_uploaded_file(Json params, std::string) {
    return with_file_location(db_get_file_to_send(params["id"].string_value()), show_in_folder);
}

std::string handle_open_downloaded_file(Json params, std::string) {
    return with_file_location(db_get_file_to_receive(params["id"].string_value()), open_file);
}

}  // namespace vandrel
