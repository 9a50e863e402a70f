#include "core_lib/api/api_reply.h"

#include <utility>

namespace vandrel {

std::string reply_success() { return Json(Json::object{{"status", "success"}}).dump(); }

std::string reply_success_with(Json::object data) {
    data["status"] = "success";
    return Json(std::move(data)).dump();
}

std::string reply_error_code(const std::string& code) {
    return Json(Json::object{{"error_code", code}, {"status", "error"}}).dump();
}

std::string reply_error_message(const std::string& message) {
    return Json(Json::object{{"error_message", message}, {"status", "error"}}).dump();
}

std::string reply_unknown_endpoint(const std::string& endpoint) {
    return Json(Json::object{{"endpoint", endpoint}, {"error_code", "unknown_endpoint"}, {"status", "error"}}).dump();
}

}  // namespace vandrel
