// Problems with the files the core keeps (the database, the certificate, the data
// folder) are told to the person using the device, not only logged: a line on standard
// error and the event {"action": "storage_problem", "path", "message"}. Never call while
// holding db_lock.
#pragma once

#include <string>

namespace vandrel {

void report_storage_problem(const std::string& path, const std::string& message);

// Reports each repair the store's set-up has made since the last call.
void report_store_repairs();

}  // namespace vandrel
