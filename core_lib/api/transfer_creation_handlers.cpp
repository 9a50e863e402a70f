#include "core_lib/api/transfer_creation_handlers.h"

#include <utility>

#include "core_lib/api/api_reply.h"
#include "core_lib/api/chat_pipeline.h"
#include "core_lib/foundation/sha256.h"
#include "core_lib/net/transfer/download_queue.h"

namespace vandrel {

namespace {

Json transfer_chat(const Json& params, const char* type, Json::array files) {
    return Json::object{{"id", params["id"].string_value()},
                        {"sender", params["sender"].string_value()},
                        {"receiver", params["receiver"].string_value()},
                        {"type", type},
                        {"data", Json::object{{"files", std::move(files)}}}};
}

}  // namespace

std::string make_file_id(const std::string& chat_id, const Json& entry, const std::string& receiver) {
    return sha256_hex("21984" + chat_id + entry["filesize"].string_value() + entry["fileurl"].string_value() +
                      entry["filename"].string_value() + receiver + "//\\");
}

std::string handle_create_upload(Json params, std::string origin) {
    const std::string& chat_id = params["id"].string_value();
    const std::string& receiver = params["receiver"].string_value();
    Json::array files;
    for (const Json& entry : params["files"].array_items()) {
        files.push_back(Json::object{{"filename", entry["filename"].string_value()},
                                     {"filesize", entry["filesize"].string_value()},
                                     {"fileurl", entry["fileurl"].string_value()},
                                     {"isDirectory", entry["isDirectory"].string_value()},
                                     {"id", make_file_id(chat_id, entry, receiver)}});
    }
    return handle_create_chat(transfer_chat(params, "upload", std::move(files)), std::move(origin));
}

std::string handle_create_download(Json params, std::string origin) {
    return handle_create_chat(transfer_chat(params, "download", params["files"].array_items()), std::move(origin));
}

std::string handle_download_files(Json params, std::string) {
    requeue_download(params["download_id"].string_value());
    return reply_success();
}

}  // namespace vandrel
