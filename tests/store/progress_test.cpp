#include "core_lib/store/progress.h"

#include <gtest/gtest.h>

#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

struct progress_case {
    const char* name;
    std::vector<std::array<const char*, 3>> files;  // id, filesize, bytes_transferred
    const char* asked_file;
    const char* number;
    const char* size;
    const char* bytes;
};

const progress_case progress_cases[] = {
    {"one_file", {{"a", "100", "40"}}, "a", "1", "100", ""},
    {"three_files", {{"a", "100", "50"}, {"b", "200", "0"}, {"c", "300", "300"}}, "a", "3", "600", "300"},
    {"no_files", {}, "a", "0", "", ""},
    {"file_not_in_transfer", {{"a", "100", "50"}, {"b", "200", "20"}}, "zzz", "2", "300", "70"},
    {"size_not_a_number", {{"a", "''", "0"}, {"b", "100", "5"}}, "a", "2", "100.0", "5"},
};

struct table_case {
    const char* table;
    const char* id_column;
    Json (*progress)(std::string, std::string);
};

const table_case tables[] = {
    {"files_to_receive", "download_id", db_get_download_progress},
    {"files_to_send", "upload_id", db_get_upload_progress},
};

class ProgressTest : public StoreTest, public ::testing::WithParamInterface<std::tuple<table_case, progress_case>> {};

TEST_P(ProgressTest, SumsTheTransfersFiles) {
    const auto& [table, c] = GetParam();
    for (const auto& [id, size, bytes] : c.files) {
        store.exec(std::string("insert into ") + table.table + " (id, " + table.id_column +
                   ", filesize, bytes_transferred) values ('" + id + "', 't1', " + size + ", " + bytes + ")");
    }
    store.exec(std::string("insert into ") + table.table + " (id, " + table.id_column +
               ", filesize, bytes_transferred) values ('other', 't2', 999, 999)");
    EXPECT_EQ(
        table.progress("t1", c.asked_file),
        Json(Json::object{{"number_of_files", c.number}, {"size_of_files", c.size}, {"bytes_transferred", c.bytes}}));
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressTest,
                         ::testing::Combine(::testing::ValuesIn(tables), ::testing::ValuesIn(progress_cases)),
                         [](const auto& param_info) {
                             return std::string(std::get<0>(param_info.param).table) + "_" +
                                    std::get<1>(param_info.param).name;
                         });

}  // namespace
}  // namespace vandrel
