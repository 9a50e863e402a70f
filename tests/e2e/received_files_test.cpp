// Where received files land on the receiving device, between real programs: a file
// never grows out of another file's bytes, never counts as received because a file of
// its name and size is there, never takes the place of another peer's file, keeps the
// folders it was sent in however deep they are, and an offer whose size is no number
// is refused.
#include <gtest/gtest.h>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"
#include "tests/e2e/transfer_harness.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;

namespace {

// The storage path the receiving device's store gives the file ("" when none).
std::string stored_fileurl(const TestDevice& device, const std::string& file_id) {
    try {
        SQLite::Database db(device.data_folder() + "app.db", SQLite::OPEN_READWRITE, 5000);
        SQLite::Statement select(db, "select fileurl from files_to_receive where id = ?");
        select.bind(1, file_id);
        return select.executeStep() ? select.getColumn(0).getString() : "";
    } catch (const std::exception&) {
        return "";
    }
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

template <std::size_t Devices>
class Receiving : public NetworkFixture<Devices> {
protected:
    void SetUp() override {
        NetworkFixture<Devices>::SetUp();
        if (this->IsSkipped()) return;
        sessions_ = start_and_meet(*this->net_, static_cast<int>(Devices));
        ASSERT_EQ(sessions_.size(), Devices) << "the devices did not start and meet";
    }

    const TestDevice& device(int i) const { return this->net_->device(i); }
    MeskSession& session(int i) { return *sessions_.at(i); }

    // The sender offers the files at those paths (its pictures folder) to the device
    // and waits until each arrived there; the ids by name as offered.
    std::map<std::string, std::string> send(int from, int to, const std::vector<std::string>& names) {
        std::vector<std::string> paths;
        for (const std::string& name : names) paths.push_back(pictures_folder(device(from)) + name);
        const auto made = offer_files(session(from), session(to).id(), paths);
        EXPECT_TRUE(made) << "no upload of " << names.front();
        if (!made) return {};
        for (const auto& [name, id] : made->file_ids) {
            EXPECT_FALSE(session(to).event("download_completed", 60s, file_is(id)).is_null()) << name;
            EXPECT_TRUE(wait_for_status(device(to), id, "complete_sent", 30s) ||
                        stored_status(device(to), id) == "complete")
                << name;
        }
        return made->file_ids;
    }

    std::vector<std::unique_ptr<MeskSession>> sessions_;
};

using ReceivedFiles = Receiving<2>;
using ReceivedFilesOfTwoPeers = Receiving<3>;

// A received name that looks like the name a file had while it arrived is a file like
// any other: the next file of the shorter name starts from its own first byte.
TEST_F(ReceivedFiles, AFileNamedLikeAPartialFileIsNoPartOfTheNextFile) {
    const std::string look_alike = write_random_file(pictures_folder(device(0)) + "x.bin.tmp.bin", 3000, 1);
    send(0, 1, {"x.bin.tmp.bin"});
    const std::string real = write_random_file(pictures_folder(device(0)) + "x.bin", 5000, 2);
    send(0, 1, {"x.bin"});

    const std::string received = downloads_folder(device(1));
    EXPECT_EQ(file_sha256(received + "x.bin"), real) << "the new file grew out of the old one";
    EXPECT_EQ(file_sha256(received + "x.bin.tmp.bin"), look_alike) << "the file that arrived first is gone";
    EXPECT_TRUE(temporary_files(received).empty());
}

// A file of the same name and size in the folder is not the offered file: the user's own
// file and a file received before (its sender edited it without changing its size) both
// stay, and the new bytes are fetched under a backup name that the store keeps.
TEST_F(ReceivedFiles, ASameNameAndSizeIsNotTakenAsReceived) {
    const std::string received = downloads_folder(device(1));
    const std::string users_own = write_random_file(received + "mine.bin", 2000, 3);
    const std::string first = write_random_file(pictures_folder(device(0)) + "doc.txt", 1000, 4);
    send(0, 1, {"doc.txt"});
    ASSERT_EQ(file_sha256(received + "doc.txt"), first);

    const std::string edited = write_random_file(pictures_folder(device(0)) + "doc.txt", 1000, 5);
    const std::string mine_sent = write_random_file(pictures_folder(device(0)) + "mine.bin", 2000, 6);
    const auto ids = send(0, 1, {"doc.txt", "mine.bin"});
    ASSERT_EQ(ids.size(), 2u);

    EXPECT_EQ(file_sha256(received + "doc.txt"), first) << "the earlier download's file was replaced";
    EXPECT_EQ(file_sha256(received + "doc.txt.mesk_backup_1000.txt"), edited) << "the edited file never arrived";
    EXPECT_EQ(file_sha256(received + "mine.bin"), users_own);
    EXPECT_EQ(file_sha256(received + "mine.bin.mesk_backup_2000.bin"), mine_sent);
    EXPECT_TRUE(ends_with(stored_fileurl(device(1), ids.at("doc.txt")), "|doc.txt.mesk_backup_1000.txt"));
    EXPECT_TRUE(ends_with(stored_fileurl(device(1), ids.at("mine.bin")), "|mine.bin.mesk_backup_2000.bin"));
}

// A file that one peer sent keeps its name when another peer sends one of that name: each
// peer's chat opens what that peer sent.
TEST_F(ReceivedFilesOfTwoPeers, ANewFileNeverTakesThePlaceOfAnotherPeersFile) {
    const std::string from_a = write_random_file(pictures_folder(device(0)) + "report.txt", 1500, 7);
    const std::string from_c = write_random_file(pictures_folder(device(2)) + "report.txt", 2500, 8);
    const auto a_ids = send(0, 1, {"report.txt"});
    const auto c_ids = send(2, 1, {"report.txt"});
    ASSERT_TRUE(a_ids.count("report.txt") && c_ids.count("report.txt"));

    const std::string received = downloads_folder(device(1));
    EXPECT_EQ(file_sha256(received + "report.txt"), from_a) << "A's file was taken over";
    EXPECT_EQ(file_sha256(received + "report.txt.mesk_backup_2500.txt"), from_c);
    EXPECT_TRUE(ends_with(stored_fileurl(device(1), a_ids.at("report.txt")), "||report.txt"));
    EXPECT_TRUE(ends_with(stored_fileurl(device(1), c_ids.at("report.txt")), "||report.txt.mesk_backup_2500.txt"));
}

// A sent folder arrives with its folders, also those deeper than 255 bytes, and the
// files beside them.
TEST_F(ReceivedFiles, AFolderArrivesWithItsSubfoldersHoweverDeep) {
    const std::string root = device(0).root + "/home/trip/";
    std::string deep;  // eight folders of 38 characters
    for (int i = 0; i < 8; ++i) deep += std::string(37, static_cast<char>('a' + i)) + std::to_string(i) + "/";
    const std::vector<std::string> files = {"one/README.txt", "two/README.txt", deep + "deep.txt", "short.txt"};
    ASSERT_GT(("trip/" + deep + "deep.txt").size(), 255u);
    std::map<std::string, std::string> sha;
    std::uint64_t seed = 10;
    for (const std::string& file : files) {
        std::filesystem::create_directories(std::filesystem::path(root + file).parent_path());
        sha[file] = write_random_file(root + file, 700 + seed, seed);
        ++seed;
    }

    session(0).process().write_line(":pick-folder " + session(1).id() + " " + root);
    std::map<std::string, std::string> ids;  // name as offered -> file id
    for (int page = 0; page < 4 && ids.size() < files.size(); ++page) {
        const Json chat = session(0).event("new_chat", 60s,
                                           [](const Json& e) { return e["info"]["type"].string_value() == "upload"; });
        ASSERT_FALSE(chat.is_null()) << "no upload of the folder (" << ids.size() << " files offered)";
        for (const Json& file : chat["info"]["files"].array_items())
            ids[file["filename"].string_value()] = file["id"].string_value();
    }
    ASSERT_EQ(ids.size(), files.size());

    const std::string received = downloads_folder(device(1));
    for (const std::string& file : files) {
        const std::string name = "trip/" + file;
        ASSERT_TRUE(ids.count(name)) << name << " was not offered";
        EXPECT_FALSE(session(1).event("download_completed", 60s, file_is(ids.at(name))).is_null()) << name;
        EXPECT_EQ(file_sha256(received + name), sha[file]) << name;
    }
    EXPECT_TRUE(temporary_files(received).empty());
}

// An offered size that is no number is refused with its own code: nothing is kept, no
// empty file completes, and the sender is never told that it arrived.
TEST_F(ReceivedFiles, AnOfferWhoseSizeIsNoNumberIsRefused) {
    const std::string bad = "offer-with-a-bad-size";
    const Json request = Json::object{
        {"id", bad},
        {"sender", session(0).id()},
        {"receiver", session(1).id()},
        {"files", Json::array{Json::object{
                      {"filename", "abc.bin"}, {"filesize", "abc"}, {"fileurl", "x||abc.bin"}, {"isDirectory", "0"}}}}};
    session(0).request("/create_upload", request.dump());
    const auto of_it = [&](const Json& e) {
        return e["chat_id"].string_value() == bad || e["info"]["id"].string_value() == bad;
    };
    // Taken, it would be told to B's interface and completed at once, and A told so.
    EXPECT_TRUE(session(1).event("new_chat", 15s, of_it).is_null()) << "B kept the offer";
    EXPECT_TRUE(session(0).event("download_completed", 5s, of_it).is_null()) << "A was told it arrived";
    EXPECT_TRUE(session(1).event("download_completed", 0ms, of_it).is_null());
    EXPECT_FALSE(std::filesystem::exists(downloads_folder(device(1)) + "abc.bin")) << "an empty file completed";
    try {
        SQLite::Database db(device(1).data_folder() + "app.db", SQLite::OPEN_READWRITE, 5000);
        SQLite::Statement rows(db, "select count(*) from files_to_receive where download_id = ?");
        rows.bind(1, bad);
        ASSERT_TRUE(rows.executeStep());
        EXPECT_EQ(rows.getColumn(0).getInt(), 0) << "the refused offer was kept";
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
}

}  // namespace
