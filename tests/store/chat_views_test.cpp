#include "core_lib/store/chat_views.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "MeskRuntimeComponent/dispatcher.h"
#include "MeskRuntimeComponent/linux_platform_services.h"
#include "core_lib/store/config.h"
#include "tests/store/db_lock_probe.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

void add_chat(testing::temp_store& store, const std::string& id, const std::string& type) {
    store.exec(
        "insert into chats (id, sender, receiver, type, data, account, sent, status, date_created, date_updated) "
        "values ('" +
        id + "', 's', 'r', '" + type + "', 'msg', 'acct', '1', '', 10, 11)");
}

void add_sent_file(testing::temp_store& store, const std::string& upload, const std::string& id,
                   const std::string& name, const std::string& size, int created, const std::string& status = "") {
    store.exec(
        "insert into files_to_send (id, upload_id, filename, filesize, fileurl, date_created, bytes_transferred, sent, "
        "status) values ('" +
        id + "', '" + upload + "', '" + name + "', '" + size + "', 'url/" + id + "', " + std::to_string(created) +
        ", 5, '1', '" + status + "')");
}

void add_received_file(testing::temp_store& store, const std::string& download, const std::string& id,
                       const std::string& name, const std::string& url, int created = 1) {
    store.exec(
        "insert into files_to_receive (id, download_id, filename, filesize, fileurl, date_created, bytes_transferred) "
        "values ('" +
        id + "', '" + download + "', '" + name + "', '10', '" + url + "', " + std::to_string(created) + ", 3)");
}

TEST_F(StoreTest, TextChatViewHasNoTransfer) {
    add_chat(store, "c1", "text");
    EXPECT_EQ(db_get_chat_json("c1"), Json(Json::object{{"id", "c1"},
                                                        {"sender", "s"},
                                                        {"receiver", "r"},
                                                        {"type", "text"},
                                                        {"data", "msg"},
                                                        {"info", nullptr},
                                                        {"files", Json::array{}},
                                                        {"account", "acct"},
                                                        {"date_created", "10"},
                                                        {"date_updated", "11"},
                                                        {"sent", "1"},
                                                        {"status", ""}}));
}

TEST_F(StoreTest, MissingChatViewKeepsTheIdAskedFor) {
    const Json view = db_get_chat_json("nope");
    EXPECT_EQ(view["id"].string_value(), "nope");
    EXPECT_EQ(view["type"].string_value(), "");
    EXPECT_TRUE(view["info"].is_null());
    EXPECT_TRUE(view["files"].array_items().empty());
}

struct transfer_size_case {
    int files;
    std::size_t entries;
};

class TransferSizeTest : public StoreTest, public ::testing::WithParamInterface<transfer_size_case> {};

TEST_P(TransferSizeTest, ShowsUpToTenFilesInDateThenIdOrder) {
    add_chat(store, "u1", "upload");
    for (int i = 0; i < GetParam().files; ++i) {
        // Pairs share a creation time, so the id decides between them.
        add_sent_file(store, "u1", "f" + std::to_string(20 - i), "n" + std::to_string(i) + ".txt", "100", i / 2);
    }
    const Json view = db_get_chat_json("u1");
    EXPECT_EQ(view["info"]["number_of_files"].string_value(), std::to_string(GetParam().files));
    EXPECT_EQ(view["info"]["size_of_files"].string_value(), std::to_string(100 * GetParam().files));
    EXPECT_EQ(view["info"]["bytes_transferred"].string_value(), std::to_string(5 * GetParam().files));
    const auto& files = view["files"].array_items();
    ASSERT_EQ(files.size(), GetParam().entries);
    if (files.size() >= 2) {
        EXPECT_EQ(files[0]["id"].string_value(), "f19");
        EXPECT_EQ(files[1]["id"].string_value(), "f20");
        EXPECT_EQ(files[0].object_items().size(), 11u);
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, TransferSizeTest,
                         ::testing::Values(transfer_size_case{10, 10}, transfer_size_case{11, 0},
                                           transfer_size_case{1, 1}));

TEST_F(StoreTest, TransferWithoutFilesSummarisesZeros) {
    add_chat(store, "u1", "upload");
    EXPECT_EQ(db_get_chat_json("u1")["info"], Json(Json::object{{"type", "upload"},
                                                                {"number_of_files", "0"},
                                                                {"size_of_files", "0"},
                                                                {"minfilename", ""},
                                                                {"maxfilename", ""},
                                                                {"bytes_transferred", "0"}}));
}

TEST_F(StoreTest, FileNameRangeComparesBytes) {
    add_chat(store, "u1", "upload");
    add_sent_file(store, "u1", "f1", "b.txt", "1", 1);
    add_sent_file(store, "u1", "f2", "Z.txt", "1", 2);
    const Json info = db_get_chat_json("u1")["info"];
    EXPECT_EQ(info["minfilename"].string_value(), "Z.txt");
    EXPECT_EQ(info["maxfilename"].string_value(), "b.txt");
}

struct upload_thumbnail_case {
    const char* filename;
    const char* filesize;
    bool has_thumbnail;
};

class UploadThumbnailTest : public StoreTest, public ::testing::WithParamInterface<upload_thumbnail_case> {};

TEST_P(UploadThumbnailTest, NeedsAnImageWithASize) {
    add_chat(store, "u1", "upload");
    add_sent_file(store, "u1", "f1", GetParam().filename, GetParam().filesize, 1, "paused");
    const Json entry = db_get_chat_json("u1")["files"][0];
    EXPECT_EQ(entry["has_thumbnail"].bool_value(), GetParam().has_thumbnail);
    EXPECT_EQ(entry["thumbnail"].string_value(),
              GetParam().has_thumbnail ? "http://127.0.0.1:45002/thumbnail/v1/upload/f1" : "");
    EXPECT_EQ(entry["status"].string_value(), "paused");
    EXPECT_EQ(entry["filepath"].string_value(), "url/f1");
    EXPECT_EQ(entry["type"].string_value(), "upload");
    EXPECT_TRUE(store.platform().file_size_lookups().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, UploadThumbnailTest,
    ::testing::Values(upload_thumbnail_case{"photo.JPG", "12", true}, upload_thumbnail_case{"a.jpeg", "12", true},
                      upload_thumbnail_case{"png", "12", true}, upload_thumbnail_case{"scan.png.zip", "12", false},
                      upload_thumbnail_case{"photo.jpg", "0", false}, upload_thumbnail_case{"photo.jpg", "", false},
                      upload_thumbnail_case{"photo.jpg", "abc", false},
                      upload_thumbnail_case{"photo.jpg", " 12kb", true}));

struct download_thumbnail_case {
    const char* filename;
    bool on_disk;
    bool has_thumbnail;
    const char* thumbnail;
};

class DownloadThumbnailTest : public StoreTest, public ::testing::WithParamInterface<download_thumbnail_case> {};

TEST_P(DownloadThumbnailTest, AsksThePlatformOnlyForImages) {
    add_chat(store, "d1", "download");
    add_received_file(store, "d1", "f1", GetParam().filename, "tok||" + std::string(GetParam().filename));
    if (GetParam().on_disk) store.platform().set_file_size("tok||" + std::string(GetParam().filename), 10);
    const Json entry = db_get_chat_json("d1")["files"][0];
    EXPECT_EQ(entry["has_thumbnail"].bool_value(), GetParam().has_thumbnail);
    EXPECT_EQ(entry["thumbnail"].string_value(), GetParam().thumbnail);
    EXPECT_EQ(entry.object_items().size(), 10u);
    EXPECT_TRUE(entry["status"].is_null());
    EXPECT_EQ(store.platform().file_size_lookups().size(), GetParam().has_thumbnail ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, DownloadThumbnailTest,
                         ::testing::Values(download_thumbnail_case{"photo.png", true, true,
                                                                   "http://127.0.0.1:45002/thumbnail/v1/download/f1"},
                                           download_thumbnail_case{"photo.png", false, true,
                                                                   "images/missing_image.png"},
                                           download_thumbnail_case{"notes.txt", true, false, ""}));

TEST_F(StoreTest, OneFileViewOfAnUpload) {
    add_sent_file(store, "u1", "f1", "a.png", "12", 7);
    EXPECT_EQ(db_get_transfer_file_json("f1", "upload"),
              Json(Json::object{{"id", "f1"},
                                {"filename", "a.png"},
                                {"filesize", "12"},
                                {"bytes_transferred", "5"},
                                {"date_created", "7"},
                                {"sent", "1"},
                                {"type", "upload"},
                                {"filepath", "url/f1"},
                                {"thumbnail", "http://127.0.0.1:45002/thumbnail/v1/upload/f1"},
                                {"has_thumbnail", true}}));
}

TEST_F(StoreTest, OneFileViewOfADownloadWithoutLocationUsesItsTarget) {
    add_received_file(store, "d1", "f1", "a.png", "");
    store.platform().set_download_target_prefix("pictures||");
    const Json view = db_get_transfer_file_json("f1", "download");
    EXPECT_EQ(view["filepath"].string_value(), "pictures||a.png");
    EXPECT_EQ(view["thumbnail"].string_value(), "images/missing_image.png");
    EXPECT_TRUE(view["has_thumbnail"].bool_value());
    EXPECT_TRUE(view["status"].is_null());
}

TEST_F(StoreTest, OneFileViewIsNullForOtherTypesAndMissingFiles) {
    add_sent_file(store, "u1", "f1", "a.png", "12", 7);
    EXPECT_TRUE(db_get_transfer_file_json("f1", "Upload").is_null());
    EXPECT_TRUE(db_get_transfer_file_json("f1", "download").is_null());
    EXPECT_TRUE(db_get_transfer_file_json("missing", "upload").is_null());
}

TEST_F(StoreTest, LocationListsPageOldestFirst) {
    for (int i = 0; i < 5; ++i) {
        add_sent_file(store, "u1", "s" + std::to_string(i), "n", "1", 10 - i);
        add_received_file(store, "d1", "r" + std::to_string(i), "n", "loc" + std::to_string(i), 10 - i);
    }
    const auto ids = [](const Json& list) {
        std::vector<std::string> result;
        for (const Json& entry : list.array_items()) result.push_back(entry["id"].string_value());
        return result;
    };
    EXPECT_EQ(ids(db_get_upload_file_urls("u1", 2, 0)), (std::vector<std::string>{"s4", "s3"}));
    EXPECT_EQ(ids(db_get_upload_file_urls("u1", 2, 1)), (std::vector<std::string>{"s2", "s1"}));
    EXPECT_EQ(db_get_download_file_urls("d1", 2, 2),
              Json(Json::array{Json::object{{"id", "r0"}, {"fileurl", "loc0"}}}));
    EXPECT_TRUE(db_get_upload_file_urls("none", 2, 0).array_items().empty());
}

struct platform_call_case {
    const char* name;
    std::function<Json()> call;
    // What the platform's answer decided.
    std::function<std::string(const Json&)> answered;
    const char* expected;
};

class PlatformCallTest : public StoreTest, public ::testing::WithParamInterface<platform_call_case> {};

TEST_P(PlatformCallTest, AsksThePlatformOnlyAfterTheLockIsReleased) {
    testing::db_lock_probe probe(store);
    add_chat(store, "d1", "download");
    add_received_file(store, "d1", "f1", "photo.png", "tok||photo.png");
    add_received_file(store, "d1", "f2", "later.png", "", 2);
    probe.platform().set_file_size("tok||photo.png", 10);

    const Json view = GetParam().call();
    EXPECT_EQ(GetParam().answered(view), GetParam().expected);
    EXPECT_GT(probe.platform().calls(), 0);
    EXPECT_EQ(probe.platform().calls_under_lock(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Views, PlatformCallTest,
    ::testing::Values(platform_call_case{"chat_view", [] { return db_get_chat_json("d1"); },
                                         [](const Json& view) { return view["files"][0]["thumbnail"].string_value(); },
                                         "http://127.0.0.1:45002/thumbnail/v1/download/f1"},
                      platform_call_case{"one_file_on_disk", [] { return db_get_transfer_file_json("f1", "download"); },
                                         [](const Json& view) { return view["thumbnail"].string_value(); },
                                         "http://127.0.0.1:45002/thumbnail/v1/download/f1"},
                      platform_call_case{
                          "one_file_without_location", [] { return db_get_transfer_file_json("f2", "download"); },
                          [](const Json& view) { return view["filepath"].string_value(); }, "token||later.png"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Runs the call on a thread of its own. A call that does not finish is stuck on
// db_lock, which nothing can free: the failure is reported and the process ends, so
// that no later test waits on the lock forever.
Json finished_or_exit(std::function<Json()> call) {
    auto done = std::make_shared<std::promise<Json>>();
    std::future<Json> result = done->get_future();
    std::thread([done, call = std::move(call)] {
        try {
            done->set_value(call());
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    }).detach();
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        ADD_FAILURE() << "the call did not finish: the store is deadlocked";
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }
    return result.get();
}

// The host's platform, wired as host/main.cpp wires it: its "others" folder is a
// config value, read with db_lock.
class ChatViewsOnLinux : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string home = store.root() + "/home";
        std::filesystem::create_directories(home);
        LinuxPlatformConfig config;
        config.environment = PlatformEnvironment{home, home + "/data", home + "/cache", home + "/config", "", "", ""};
        config.launcher.find_program = [](const std::string&) { return std::string(); };
        config.launcher.start_program = [](const std::vector<std::string>&, const std::string&) { return false; };
        config.others_folder_token = [] { return db_config_get(true, "others_folder_token"); };
        services = std::make_shared<LinuxPlatformServices>(Dispatcher::create(), config);
        install_platform_services(services);
        others = home + "/Others";
        std::filesystem::create_directories(others);
    }

    // The folder a storage path resolves into.
    std::filesystem::path folder_of(const std::string& storage_path) {
        return std::filesystem::path(services->resolve_storage_path(storage_path)).parent_path();
    }

    testing::temp_store store;
    std::shared_ptr<LinuxPlatformServices> services;
    std::string others;
};

TEST_F(ChatViewsOnLinux, ReceivedFileWithoutLocationGetsItsTargetWithoutDeadlock) {
    add_received_file(store, "d1", "text1", "notes.txt", "");
    add_received_file(store, "d1", "image1", "photo.png", "");
    const struct {
        const char* id;
        bool others_folder_set;
        std::function<std::string()> folder;
        const char* thumbnail;
    } cases[] = {
        {"text1", false, [this] { return services->user_folders().downloads; }, ""},
        {"image1", false, [this] { return services->user_folders().pictures; }, "images/missing_image.png"},
        {"text1", true, [this] { return others; }, ""},
    };
    for (const auto& c : cases) {
        if (c.others_folder_set) db_config_set(true, "others_folder_token", services->access_list().add(others));
        const Json view =
            finished_or_exit([id = std::string(c.id)] { return db_get_transfer_file_json(id, "download"); });
        const std::string filepath = view["filepath"].string_value();
        EXPECT_EQ(folder_of(filepath), std::filesystem::weakly_canonical(c.folder())) << c.id << " " << filepath;
        EXPECT_EQ(view["thumbnail"].string_value(), c.thumbnail) << c.id;
    }
}

}  // namespace
}  // namespace vandrel
