#include "core_lib/store/storage_problems.h"

#include <iostream>

#include "core_lib/foundation/json.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/db_pool.h"

namespace vandrel {

void report_storage_problem(const std::string& path, const std::string& message) {
    std::cerr << "storage problem: " << path << ": " << message << "\n";
    send_to_ui(Json(Json::object{{"action", "storage_problem"}, {"path", path}, {"message", message}}).dump());
}

void report_store_repairs() {
    for (const db_repair& repair : db_pool_take_repairs()) report_storage_problem(repair.path, repair.message);
}

}  // namespace vandrel
