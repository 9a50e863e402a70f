#include "tests/support/temp_store.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "core_lib/store/db_session.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/store_lifecycle.h"

namespace vandrel::testing {

namespace {

std::string make_temp_root() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/mesk-store-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

std::shared_ptr<recording_platform> make_platform(const std::string& root) {
    auto platform = std::make_shared<recording_platform>();
    std::filesystem::create_directories(root + "/Data/");
    std::filesystem::create_directories(root + "/tmp");
    platform->set_data_folder(root + "/Data/");
    platform->set_local_folder(root + "/tmp/");
    return platform;
}

}  // namespace

temp_store::temp_store()
    : root_(make_temp_root()),
      data_folder_(root_ + "/Data/"),
      platform_(make_platform(root_)),
      platform_state_(platform_, ui_.sink()) {
    // Nothing is queued in a new test's store.
    set_downloads_pending(false);
}

temp_store::~temp_store() {
    store_shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void temp_store::restart() { store_shutdown(); }

void temp_store::exec(const std::string& sql) {
    store_session session;
    session.db().exec(sql);
}

std::vector<std::vector<std::string>> temp_store::rows(const std::string& sql) {
    store_session session;
    SQLite::Statement select(session.db(), sql);
    std::vector<std::vector<std::string>> result;
    while (select.executeStep()) {
        std::vector<std::string> row;
        for (int i = 0; i < select.getColumnCount(); ++i) row.push_back(column_text(select, i));
        result.push_back(std::move(row));
    }
    return result;
}

std::string temp_store::text(const std::string& sql) {
    auto all = rows(sql);
    return all.empty() || all.front().empty() ? std::string() : all.front().front();
}

std::int64_t temp_store::number(const std::string& sql) {
    const std::string value = text(sql);
    return value.empty() ? 0 : std::stoll(value);
}

std::vector<std::string> temp_store::columns(const std::string& table) {
    std::vector<std::string> names;
    for (const auto& row : rows("pragma table_info(" + table + ")")) names.push_back(row.at(1));
    return names;
}

}  // namespace vandrel::testing
