// A burst of store writes for the kill tests: two threads write through the store's own
// functions into the app.db of DATA_FOLDER, one storing text chats, the other storing
// downloads of three files and moving their files on, and each prints a line once a
// write has returned ("chat N", "download N"), so the test knows what the store has
// confirmed when it kills the program.
//   mesk_store_burst DATA_FOLDER FIRST COUNT
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/platform/platform_state.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/store_state.h"
#include "tests/support/recording_platform.h"
#include "tests/support/store_burst.h"

using namespace vandrel;

namespace {

std::mutex output_mutex;

void confirm(const char* kind, long n) {
    const std::lock_guard<std::mutex> lock(output_mutex);
    std::printf("%s %ld\n", kind, n);
    std::fflush(stdout);
}

void write_chats(long first, long count, const std::string& own) {
    for (long n = first; n < first + count; ++n) {
        const testing::burst_names names(n);
        if (!db_insert_chat("", names.chat, testing::burst_sender, own, "text", names.text)) std::exit(3);
        confirm("chat", n);
    }
}

void write_downloads(long first, long count, const std::string& own) {
    for (long n = first; n < first + count; ++n) {
        const testing::burst_names names(n);
        std::vector<Json> files;
        for (const std::string& id : names.files) {
            files.push_back(Json::object{{"id", id}, {"filename", id + ".bin"}, {"filesize", "1000"}, {"fileurl", ""}});
        }
        if (!db_store_download(files, "", names.download, testing::burst_sender, own)) std::exit(3);
        db_set_file_to_receive_progress(500, names.files[0]);
        db_set_file_received_status(names.files[1], names.download, "complete");
        confirm("download", n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s DATA_FOLDER FIRST COUNT\n", argv[0]);
        return 2;
    }
    const std::string data_folder = std::string(argv[1]) + "/";
    const long first = std::atol(argv[2]);
    const long count = std::atol(argv[3]);
    try {
        std::filesystem::create_directories(data_folder + "tmp");
        auto platform = std::make_shared<testing::recording_platform>();
        platform->set_data_folder(data_folder);
        platform->set_local_folder(data_folder + "tmp/");
        const testing::recording_ui_sink ui;
        platform_state platform_links(platform, ui.sink());
        const current_platform::binding platform_binding(platform_links);
        store_state store;
        const current_store::binding store_binding(store);

        const std::string own = get_userid();
        std::printf("device %s\n", own.c_str());
        std::fflush(stdout);
        std::thread downloads([&] { write_downloads(first, count, own); });
        write_chats(first, count, own);
        downloads.join();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "store burst failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
