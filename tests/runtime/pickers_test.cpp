#include "MeskRuntimeComponent/pickers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "MeskRuntimeComponent/future_access_list.h"
#include "MeskRuntimeComponent/linux_platform_services.h"
#include "MeskRuntimeComponent/pickers_jobs.h"
#include "MeskRuntimeComponent/storage_paths.h"
#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/foundation/json.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/shared_pending.h"
#include "tests/runtime/runtime_test_folder.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"
#include "tests/support/test_images.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;
using testing::TestFolder;

const std::string peer = "peer-b";
const std::string jpeg_prefix = "data:image/jpeg;base64,";

// Answers every dialog with what the test set; records what was asked.
class ScriptedPicker : public PickerService {
public:
    struct FilesCall {
        PickerStart start;
        std::vector<std::string> filters;
        bool multiple;
    };

    void answer_folder(std::string folder) {
        std::lock_guard<std::mutex> lock(mutex_);
        folder_ = std::move(folder);
    }
    void answer_files(std::vector<std::string> files) {
        std::lock_guard<std::mutex> lock(mutex_);
        files_ = std::move(files);
    }
    int folder_calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return folder_calls_;
    }
    std::vector<FilesCall> files_calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return files_calls_;
    }

    void pick_folder(std::function<void(const std::string&)> done) override {
        std::string answer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++folder_calls_;
            answer = folder_;
        }
        done(answer);
    }
    void pick_files(PickerStart start, std::vector<std::string> filters, bool multiple,
                    std::function<void(const std::vector<std::string>&)> done) override {
        std::vector<std::string> answer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            files_calls_.push_back({start, std::move(filters), multiple});
            answer = files_;
        }
        done(answer);
    }

private:
    std::mutex mutex_;
    std::string folder_;
    std::vector<std::string> files_;
    int folder_calls_ = 0;
    std::vector<FilesCall> files_calls_;
};

// The recording platform with accepted folders and storage paths over a real access list.
class PickerPlatform : public testing::recording_platform {
public:
    explicit PickerPlatform(const std::string& list_file) : list_(list_file) {}

    void set_accepted_folders(std::vector<std::string> folders) {
        std::lock_guard<std::mutex> lock(mutex_);
        accepted_ = std::move(folders);
    }
    std::vector<std::string> list_accepted_folders() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return accepted_;
    }
    std::string storage_path_for_file(const std::string& folder, const std::string& file) override {
        return vandrel::storage_path_for_file(list_, folder, file);
    }
    std::string find_file_in_folder(const std::string& storage_path) override {
        return vandrel::find_file_in_folder(list_, storage_path);
    }

private:
    std::mutex mutex_;
    std::vector<std::string> accepted_;
    FutureAccessList list_;
};

Json parse(const std::string& text) {
    std::string error;
    return Json::parse(text, error);
}

std::vector<std::string> strings_of(const Json& entries, const std::string& key) {
    std::vector<std::string> values;
    for (const Json& entry : entries.array_items()) values.push_back(entry[key].string_value());
    return values;
}

class PickersTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform = std::make_shared<PickerPlatform>(store.root() + "/access_list.json");
        platform->set_data_folder(store.data_folder());
        platform->set_local_folder(store.root() + "/tmp/");
        install_platform_services(platform);
        pictures = files.make_folder("Pictures");
        music = files.make_folder("Music");
        videos = files.make_folder("Videos");
        platform->set_accepted_folders({pictures, music, videos});
        install_picker_service(picker);
        set_upload_request_sender([this](const std::string& body) {
            {
                std::lock_guard<std::mutex> lock(requests_mutex);
                requests_.push_back(parse(body));
            }
            handle_api_request("/create_upload", body, "from_ui");
        });
        own_id = get_userid();
        store.ui().clear();
    }

    void TearDown() override {
        EXPECT_TRUE(wait_for_background_jobs(std::chrono::seconds(20)));
        set_upload_request_sender(nullptr);
        install_picker_service(nullptr);
        bool woken;
        while (resend_queue().try_dequeue(woken)) {}
    }

    void settle() { ASSERT_TRUE(wait_for_background_jobs(std::chrono::seconds(20))); }

    std::vector<Json> requests() {
        std::lock_guard<std::mutex> lock(requests_mutex);
        return requests_;
    }
    std::vector<Json> events_of(const std::string& action) {
        std::vector<Json> found;
        for (const Json& event : store.ui().events())
            if (event["action"].string_value() == action) found.push_back(event);
        return found;
    }
    std::vector<std::string> feedbacks() {
        std::vector<std::string> texts;
        for (const Json& event : events_of("feedback_for_peer")) texts.push_back(event["feedback"].string_value());
        return texts;
    }
    // Shared files as stored: {name, fileurl}, by name.
    std::vector<std::vector<std::string>> shared_rows() {
        return store.rows("select name, path from shared_files order by name");
    }

    testing::temp_store store;
    testing::temp_services services;
    TestFolder files;
    std::shared_ptr<PickerPlatform> platform;
    std::shared_ptr<ScriptedPicker> picker = std::make_shared<ScriptedPicker>();
    std::string pictures, music, videos;
    std::string own_id;

private:
    std::mutex requests_mutex;
    std::vector<Json> requests_;
};

std::string numbered(const std::string& stem, int i, const std::string& extension) {
    std::string digits = std::to_string(i);
    digits.insert(0, 3 - std::min<std::size_t>(3, digits.size()), '0');
    return stem + digits + extension;
}

// ---- folder upload ----

TEST_F(PickersTest, FolderOf250FilesGoesInPagesOf100_100_50UnderOneId) {
    const std::string folder = files.make_folder("Holiday");
    for (int i = 0; i < 250; ++i) files.write("Holiday/" + numbered("f", i, ".txt"), std::string(i % 7, 'x'));
    picker->answer_folder(folder);
    const std::int64_t hour_before = hours_since_epoch();
    pick_folder_to_send(peer);
    settle();
    const std::int64_t hour_after = hours_since_epoch();

    const auto sent = requests();
    ASSERT_EQ(sent.size(), 3u);
    const std::vector<std::size_t> sizes{100, 100, 50};
    const std::string id = sent[0]["id"].string_value();
    EXPECT_TRUE(id == folder_upload_id(folder, hour_before, peer) || id == folder_upload_id(folder, hour_after, peer));
    int next = 0;
    for (std::size_t page = 0; page < 3; ++page) {
        const Json& request = sent[page];
        EXPECT_EQ(request["id"].string_value(), id);
        EXPECT_EQ(request["sender"].string_value(), own_id);
        EXPECT_EQ(request["receiver"].string_value(), peer);
        ASSERT_EQ(request["files"].array_items().size(), sizes[page]);
        for (const Json& entry : request["files"].array_items()) {
            const std::string name = numbered("f", next, ".txt");
            EXPECT_EQ(entry["filename"].string_value(), "Holiday/" + name);
            EXPECT_EQ(entry["filesize"].string_value(), std::to_string(next % 7));
            EXPECT_EQ(entry["isDirectory"].string_value(), "0");
            EXPECT_EQ(platform->find_file_in_folder(entry["fileurl"].string_value()), folder + "/" + name);
            ++next;
        }
    }
    EXPECT_EQ(store.number("select count(*) from files_to_send where upload_id = '" + id + "'"), 250);
    EXPECT_EQ(store.rows("select receiver from uploads"), (std::vector<std::vector<std::string>>{{peer}}));

    const auto events = events_of("feedback_for_peer");
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0]["feedback"].string_value(), "loading folder Holiday");
    EXPECT_EQ(events[0]["peer_id"].string_value(), peer);
    EXPECT_EQ(events[1]["feedback"].string_value(), "Holiday/f000.txt; Files: 1");
}

TEST_F(PickersTest, FolderFilesAreNamedByTheirPathBelowTheFolder) {
    const std::string folder = files.make_folder("Holiday");
    files.write("Holiday/b.txt", "bb");
    files.write("Holiday/2024/trip/a.jpg", "aaaa");
    files.write("Holiday/a.txt", "a");
    files.write("Holiday/back\\slash.txt", "c");
    const std::string outside = files.write("elsewhere/secret.txt", "secret");
    fs::create_symlink(outside, folder + "/link-out.txt");
    fs::create_symlink(folder + "/2024", folder + "/link-to-2024");
    picker->answer_folder(folder + "/");
    pick_folder_to_send(peer);
    settle();

    const auto sent = requests();
    ASSERT_EQ(sent.size(), 1u);
    const Json& entries = sent[0]["files"];
    // Links that leave the folder and links to folders inside it are left out.
    EXPECT_EQ(strings_of(entries, "filename"), (std::vector<std::string>{"Holiday/2024/trip/a.jpg", "Holiday/a.txt",
                                                                         "Holiday/b.txt", "Holiday/back\\slash.txt"}));
    EXPECT_EQ(strings_of(entries, "filesize"), (std::vector<std::string>{"4", "1", "2", "1"}));
    const auto deep = parse_storage_path(entries[0]["fileurl"].string_value());
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->relid, "2024/trip");
    EXPECT_EQ(deep->name, "a.jpg");
    const auto top = parse_storage_path(entries[1]["fileurl"].string_value());
    ASSERT_TRUE(top);
    EXPECT_EQ(top->relid, "");
    EXPECT_EQ(top->token, deep->token);
}

TEST_F(PickersTest, FolderUploadIdKeepsToTheFolderPeerAndHour) {
    EXPECT_EQ(folder_upload_id("/home/u/A", 480000, peer), folder_upload_id("/home/u/A", 480000, peer));
    EXPECT_NE(folder_upload_id("/home/u/A", 480000, peer), folder_upload_id("/home/u/B", 480000, peer));
    EXPECT_NE(folder_upload_id("/home/u/A", 480000, peer), folder_upload_id("/home/u/A", 480001, peer));
    EXPECT_NE(folder_upload_id("/home/u/A", 480000, peer), folder_upload_id("/home/u/A", 480000, "peer-c"));

    const std::string a = files.make_folder("A");
    const std::string b = files.make_folder("B");
    files.write("A/one.txt", "1");
    files.write("B/one.txt", "1");
    const std::int64_t hour = hours_since_epoch();
    for (const auto& folder : {a, a, b}) {
        picker->answer_folder(folder);
        pick_folder_to_send(peer);
        settle();
    }
    if (hours_since_epoch() != hour) GTEST_SKIP() << "the hour turned during the test";
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0]["id"].string_value(), sent[1]["id"].string_value());
    EXPECT_NE(sent[0]["id"].string_value(), sent[2]["id"].string_value());
}

TEST_F(PickersTest, FolderWithoutFilesSendsNoRequest) {
    files.make_folder("Empty/sub/deeper");
    for (const std::string& folder : {files / "Empty", files / "no-such-folder"}) {
        picker->answer_folder(folder);
        pick_folder_to_send(peer);
        settle();
        EXPECT_TRUE(requests().empty()) << folder;
    }
    EXPECT_EQ(store.number("select count(*) from uploads"), 0);
}

// ---- shared files ----

TEST_F(PickersTest, Sharing250FilesStoresThemAllInBatches) {
    std::vector<std::string> picked;
    for (int i = 0; i < 250; ++i) picked.push_back(files.write("Pictures/" + numbered("p", i, ".jpg"), "x"));
    picker->answer_files(picked);
    pick_files_to_share();
    settle();

    const auto rows = shared_rows();
    ASSERT_EQ(rows.size(), 250u);
    for (int i = 0; i < 250; ++i) {
        EXPECT_EQ(rows[i][0], numbered("p", i, ".jpg"));
        EXPECT_EQ(platform->find_file_in_folder(rows[i][1]), picked[i]);
    }
    // 101, 101 and 48.
    EXPECT_EQ(store.ui().count("shared_files_updated"), 3u);
    EXPECT_TRUE(platform->toasts().empty());
    const auto searching = events_of("feedback_for_peer").at(0);
    EXPECT_EQ(searching["feedback"].string_value(), "Searching folder : Pictures");
    EXPECT_FALSE(searching.object_items().count("peer_id"));
    const auto calls = picker->files_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].start, PickerStart::None);
    EXPECT_EQ(calls[0].filters, std::vector<std::string>{"*"});
    EXPECT_TRUE(calls[0].multiple);
}

TEST_F(PickersTest, SharingStopsAtTheFirstFileTheFolderDoesNotHold) {
    const std::string first = files.write("Pictures/a.jpg", "a");
    const std::string third = files.write("Pictures/c.jpg", "c");
    picker->answer_files({first, pictures + "/gone.jpg", third});
    pick_files_to_share();
    settle();

    const auto rows = shared_rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "a.jpg");
}

TEST_F(PickersTest, SharingAFileOutsideEveryAcceptedFolderStoresNothing) {
    const std::string outside = files.write("Downloads/x.jpg", "x");
    const std::string inside = files.write("Pictures/a.jpg", "a");
    picker->answer_files({outside, inside});
    pick_files_to_share();
    settle();

    EXPECT_TRUE(shared_rows().empty());
    EXPECT_EQ(store.ui().count("shared_files_updated"), 0u);
    const auto errors = events_of("folder_access_error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["folder"].string_value(), files / "Downloads/");
    EXPECT_EQ(platform->toasts(),
              (std::vector<std::pair<std::string, std::string>>{
                  {"Folder Access Error", "Grant this folder first: :pick-accepted-folder " + files / "Downloads/"}}));
    // Every accepted folder was searched first.
    EXPECT_EQ(feedbacks(), (std::vector<std::string>{"Searching folder : Pictures", "Searching folder : Music",
                                                     "Searching folder : Videos"}));
}

TEST_F(PickersTest, TheFolderAccessToastQuotesAFolderAsTheHostCommandTakesIt) {
    const std::string outside = files.write("Bob's old scans/x.jpg", "x");
    picker->answer_files({outside});
    pick_files_to_share();
    settle();

    ASSERT_EQ(platform->toasts().size(), 1u);
    EXPECT_EQ(platform->toasts()[0].second,
              "Grant this folder first: :pick-accepted-folder '" + files.path() + "/Bob'\\''s old scans/'");
    EXPECT_EQ(events_of("folder_access_error").at(0)["folder"].string_value(), files / "Bob's old scans/");
}

TEST_F(PickersTest, SharingMatchesCanonicalPathsCaseSensitively) {
    const std::string added = files.make_folder("Added");
    platform->set_accepted_folders({pictures, music, videos, added});
    files.write("Added/sub/a.jpg", "a");
    fs::create_symlink(added, files / "via-link");
    files.write("PICTURES/b.jpg", "b");  // another folder than Pictures here

    struct Case {
        std::string picked;
        bool stored;
    };
    for (const Case& c : {Case{files / "via-link/sub/../sub/a.jpg", true}, Case{files / "PICTURES/b.jpg", false}}) {
        store.exec("delete from shared_files");
        store.ui().clear();
        picker->answer_files({c.picked});
        pick_files_to_share();
        settle();
        const auto rows = shared_rows();
        EXPECT_EQ(rows.size(), c.stored ? 1u : 0u) << c.picked;
        EXPECT_EQ(store.ui().count("folder_access_error"), c.stored ? 0u : 1u) << c.picked;
        if (c.stored && rows.size() == 1) {
            EXPECT_EQ(platform->find_file_in_folder(rows[0][1]), added + "/sub/a.jpg");
            EXPECT_EQ(parse_storage_path(rows[0][1])->relid, "sub");
        }
    }
}

TEST_F(PickersTest, SharedFilesOfOneNameInTwoSubfoldersStayApart) {
    const std::string one = files.write("Pictures/2023/x.jpg", "one");
    const std::string two = files.write("Pictures/2024/x.jpg", "two");
    picker->answer_files({one, two});
    pick_files_to_share();
    settle();

    std::vector<std::string> found;
    for (const auto& row : shared_rows()) found.push_back(platform->find_file_in_folder(row[1]));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{one, two}));
}

// ---- pick by category ----

TEST_F(PickersTest, CategoryChoosesWhereThePickerStarts) {
    struct Case {
        std::string request;
        PickerStart start;
    };
    const std::vector<Case> cases{
        {R"({"type": "photos", "to": "p"})", PickerStart::Pictures},
        {R"({"type": "songs", "to": "p"})", PickerStart::Music},
        {R"({"type": "videos", "to": "p"})", PickerStart::Videos},
        {R"({"type": "files", "to": "p"})", PickerStart::Pictures},
        {R"({"type": "documents", "to": "p"})", PickerStart::None},
        {"not json", PickerStart::None},
    };
    for (const Case& c : cases) pick_and_send_by_category(c.request);
    settle();
    const auto calls = picker->files_calls();
    ASSERT_EQ(calls.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(calls[i].start, cases[i].start) << cases[i].request;
        EXPECT_EQ(calls[i].filters, std::vector<std::string>{"*"});
        EXPECT_TRUE(calls[i].multiple);
    }
    EXPECT_EQ(picker->folder_calls(), 0);
}

TEST_F(PickersTest, FolderCategoryPicksAFolderForThePeerInTo) {
    const std::string folder = files.make_folder("Trip");
    files.write("Trip/one.txt", "1");
    picker->answer_folder(folder);
    pick_and_send_by_category(R"({"type": "folder", "to": "peer-c"})");
    settle();

    EXPECT_EQ(picker->folder_calls(), 1);
    EXPECT_TRUE(picker->files_calls().empty());
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["receiver"].string_value(), "peer-c");
    EXPECT_EQ(strings_of(sent[0]["files"], "filename"), std::vector<std::string>{"Trip/one.txt"});
}

TEST_F(PickersTest, Category250FilesGoInBatchesOf101_101_48UnderOneId) {
    std::vector<std::string> picked;
    for (int i = 0; i < 250; ++i) picked.push_back(files.write("Music/sub/" + numbered("s", i, ".mp3"), "abc"));
    picker->answer_files(picked);
    const std::int64_t hour_before = hours_since_epoch();
    pick_and_send_by_category(R"({"type": "songs", "to": "peer-b"})");
    settle();
    const std::int64_t hour_after = hours_since_epoch();

    const auto sent = requests();
    ASSERT_EQ(sent.size(), 3u);
    const std::string id = sent[0]["id"].string_value();
    EXPECT_TRUE(id == picked_files_upload_id(hour_before, peer, picked) ||
                id == picked_files_upload_id(hour_after, peer, picked));
    const std::vector<std::size_t> sizes{101, 101, 48};
    int next = 0;
    for (std::size_t batch = 0; batch < 3; ++batch) {
        EXPECT_EQ(sent[batch]["id"].string_value(), id);
        EXPECT_EQ(sent[batch]["sender"].string_value(), own_id);
        EXPECT_EQ(sent[batch]["receiver"].string_value(), peer);
        ASSERT_EQ(sent[batch]["files"].array_items().size(), sizes[batch]);
        for (const Json& entry : sent[batch]["files"].array_items()) {
            EXPECT_EQ(entry["filename"].string_value(), numbered("s", next, ".mp3"));
            EXPECT_EQ(entry["filesize"].string_value(), "3");
            EXPECT_EQ(entry["isDirectory"].string_value(), "0");
            EXPECT_EQ(platform->find_file_in_folder(entry["fileurl"].string_value()), picked[next]);
            ++next;
        }
    }
    EXPECT_EQ(store.number("select count(*) from files_to_send where upload_id = '" + id + "'"), 250);
    // Music is the second accepted folder; both searches told the peer's page.
    const auto events = events_of("feedback_for_peer");
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0]["feedback"].string_value(), "Searching folder : Pictures");
    EXPECT_EQ(events[1]["feedback"].string_value(), "Searching folder : Music");
    EXPECT_EQ(events[1]["peer_id"].string_value(), peer);
    EXPECT_EQ(events[2]["feedback"].string_value(), "s000.mp3; Files: 1");
}

TEST_F(PickersTest, CategoryUploadIdFollowsTheFilesAndTheirOrder) {
    const std::vector<std::string> ab{"/m/a.mp3", "/m/b.mp3"};
    const std::vector<std::string> ba{"/m/b.mp3", "/m/a.mp3"};
    const std::vector<std::string> cd{"/m/c.mp3", "/m/d.mp3"};
    EXPECT_EQ(picked_files_upload_id(480000, peer, ab), picked_files_upload_id(480000, peer, ab));
    EXPECT_NE(picked_files_upload_id(480000, peer, ab), picked_files_upload_id(480000, peer, ba));
    // Other files of the same folder: another transfer, another id.
    EXPECT_NE(picked_files_upload_id(480000, peer, ab), picked_files_upload_id(480000, peer, cd));
    EXPECT_NE(picked_files_upload_id(480000, peer, ab), picked_files_upload_id(480001, peer, ab));
    EXPECT_NE(picked_files_upload_id(480000, peer, ab), picked_files_upload_id(480000, "peer-c", ab));
}

TEST_F(PickersTest, CategoryPickOutsideEveryAcceptedFolderSendsNothing) {
    const std::string outside = files.write("Downloads/x.mp3", "x");
    picker->answer_files({outside, files.write("Music/a.mp3", "a")});
    pick_and_send_by_category(R"({"type": "songs", "to": "peer-b"})");
    settle();

    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(store.ui().count("folder_access_error"), 1u);
    EXPECT_EQ(platform->toasts().size(), 1u);
    for (const Json& event : events_of("feedback_for_peer")) EXPECT_EQ(event["peer_id"].string_value(), peer);
}

TEST_F(PickersTest, CategoryPickStopsAtTheFirstMissingFile) {
    picker->answer_files({files.write("Videos/a.mp4", "a"), videos + "/gone.mp4", files.write("Videos/c.mp4", "c")});
    pick_and_send_by_category(R"({"type": "videos", "to": "peer-b"})");
    settle();

    const auto sent = requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(strings_of(sent[0]["files"], "filename"), std::vector<std::string>{"a.mp4"});
}

// ---- profile image ----

TEST(PickerBase64, EncodesTheStandardVectors) {
    const std::vector<std::pair<std::string, std::string>> vectors{
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xff\xfe\x00", 3), "//4A"},
    };
    for (const auto& [bytes, text] : vectors) EXPECT_EQ(encode_base64(bytes), text) << text;
}

// The bytes of a Base64 text (the data URL's picture).
std::string decode_base64(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const auto at = alphabet.find(c);
        if (at == std::string::npos) break;
        bits = bits << 6 | static_cast<std::uint32_t>(at);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>(bits >> count & 0xFF);
        }
    }
    return out;
}

TEST_F(PickersTest, AnImageBecomesAJpegThumbnailAvatar) {
    const struct {
        const char* name;
        int width;
        int height;
        std::pair<int, int> expected;
    } cases[] = {
        {"wide.png", 1200, 600, {400, 200}},
        {"tall.jpg", 300, 900, {133, 400}},
        {"small.png", 40, 30, {40, 30}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = pictures + "/" + c.name;
        ASSERT_TRUE(testing::write_test_image(path, c.width, c.height));
        store.ui().clear();
        picker->answer_files({path});
        pick_profile_image();
        settle();
        const std::string avatar = get_avatar();
        ASSERT_EQ(avatar.rfind(jpeg_prefix, 0), 0u);
        const std::string jpeg = decode_base64(avatar.substr(jpeg_prefix.size()));
        EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
        const auto size = testing::picture_size(jpeg);
        EXPECT_NEAR(size.first, c.expected.first, 1);
        EXPECT_NEAR(size.second, c.expected.second, 1);
        EXPECT_EQ(store.ui().count("device_updated"), 1u);
    }
    const auto calls = picker->files_calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].start, PickerStart::Pictures);
    EXPECT_EQ(calls[0].filters, (std::vector<std::string>{".jpg", ".jpeg", ".png"}));
    EXPECT_FALSE(calls[0].multiple);
}

TEST_F(PickersTest, AFileThatIsNoImageLeavesTheAvatar) {
    set_avatar(jpeg_prefix + "AAAA");
    for (const std::string& path : {files.write("Pictures/fake.png", "\x89PNG\r\n"),
                                    files.write("Pictures/empty.jpg", ""), pictures + "/missing.jpg", pictures}) {
        store.ui().clear();
        picker->answer_files({path});
        pick_profile_image();
        settle();
        EXPECT_EQ(store.ui().count("device_updated"), 0u) << path;
        EXPECT_EQ(get_avatar(), jpeg_prefix + "AAAA") << path;
    }
}

// ---- cancelled picks ----

TEST_F(PickersTest, CancelledPicksDoNothing) {
    set_avatar(jpeg_prefix + "AAAA");
    files.write("Pictures/a.jpg", "a");
    store.ui().clear();
    const std::vector<std::function<void()>> picks{
        [] { pick_folder_to_send(peer); },
        [] { pick_files_to_share(); },
        [] { pick_and_send_by_category(R"({"type": "photos", "to": "peer-b"})"); },
        [] { pick_and_send_by_category(R"({"type": "folder", "to": "peer-b"})"); },
        [] { pick_profile_image(); },
    };
    for (int with_service = 1; with_service >= 0; --with_service) {
        install_picker_service(with_service ? picker : nullptr);
        for (const auto& pick : picks) pick();
        settle();
    }
    EXPECT_EQ(picker->folder_calls(), 2);
    EXPECT_EQ(picker->files_calls().size(), 3u);
    EXPECT_TRUE(store.ui().texts().empty());
    EXPECT_TRUE(requests().empty());
    EXPECT_TRUE(shared_rows().empty());
    EXPECT_TRUE(platform->toasts().empty());
    EXPECT_EQ(get_avatar(), jpeg_prefix + "AAAA");
}

// ---- over the Linux platform layer ----

TEST(PickersOnLinux, SharedFilesResolveThroughTheAccessList) {
    testing::temp_store store;
    testing::temp_services running;
    TestFolder home;
    LinuxPlatformConfig config;
    config.environment = PlatformEnvironment{home.path(), "", "", "", "", "", ""};
    config.launcher.find_program = [](const std::string&) { return std::string(); };
    config.launcher.start_program = [](const std::vector<std::string>&, const std::string&) { return false; };
    auto services = std::make_shared<LinuxPlatformServices>(Dispatcher::create(), config);
    install_platform_services(services);
    const std::string added = home.make_folder("Work");
    ASSERT_FALSE(services->access_list().add(added, true).empty());
    auto picker = std::make_shared<ScriptedPicker>();
    install_picker_service(picker);

    const std::string in_pictures = home.write("Pictures/p.jpg", "p");
    const std::string in_added = home.write("Work/deep/w.txt", "w");
    for (const auto& file : {in_pictures, in_added}) {
        picker->answer_files({file});
        pick_files_to_share();
        ASSERT_TRUE(wait_for_background_jobs(std::chrono::seconds(20)));
    }
    install_picker_service(nullptr);

    std::vector<std::string> resolved;
    for (const auto& row : store.rows("select path from shared_files"))
        resolved.push_back(services->find_file_in_folder(row[0]));
    std::sort(resolved.begin(), resolved.end());
    EXPECT_EQ(resolved, (std::vector<std::string>{in_pictures, in_added}));
}

}  // namespace
}  // namespace vandrel
