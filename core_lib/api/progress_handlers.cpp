#include "core_lib/api/progress_handlers.h"

#include "core_lib/api/api_reply.h"
#include "core_lib/api/request_values.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/progress.h"
#include "core_lib/store/uploads.h"

namespace vandrel {

std::string handle_bytes_transferred(Json params, std::string) {
    const std::string& file_id = params["file_id"].string_value();
    const std::string& chat_id = params["chat_id"].string_value();
    const std::uint64_t bytes = parse_u64_or_zero(params["bytes_transferred"].string_value());
    db_set_file_to_send_progress(bytes, file_id);
    const Json file = db_get_file_to_send(file_id);
    const std::uint64_t total = parse_u64_or_zero(file["filesize"].string_value());
    send_to_ui(Json(Json::object{{"action", "update_bytes_transferred"},
                                 {"file_id", file_id},
                                 {"chat_id", chat_id},
                                 {"bytes_transferred", std::to_string(bytes)},
                                 {"total_bytes", std::to_string(total)},
                                 {"device", file["receiver"].string_value()},
                                 {"filepath", file["fileurl"].string_value()},
                                 {"other_files", db_get_upload_progress(chat_id, file_id)}})
                   .dump());
    return reply_success();
}

}  // namespace vandrel
