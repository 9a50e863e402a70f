#include "tests/support/seeded_peer.h"

#include <cstdint>
#include <filesystem>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/store/schema.h"

namespace vandrel::testing {

void seed_peer(const std::string& data_folder, const std::string& id, const std::string& alias,
               const std::string& address) {
    namespace fs = std::filesystem;
    fs::create_directories(data_folder);
    fs::permissions(data_folder, fs::perms::owner_all);
    SQLite::Database db(data_folder + "app.db", SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    create_tables(db);
    add_columns(db);
    add_indexes(db);
    SQLite::Statement insert(db,
                             "insert into devices (id, alias, sysinfo, last_ip, date_updated) values (?, ?, ?, ?, ?)");
    insert.bind(1, id);
    insert.bind(2, alias);
    insert.bind(3, "linux/test");
    insert.bind(4, address);
    insert.bind(5, static_cast<std::int64_t>(now_ms()));
    insert.exec();
}

}  // namespace vandrel::testing
