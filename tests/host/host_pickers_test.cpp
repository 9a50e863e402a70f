#include "host/host_pickers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace vandrel;
using namespace vandrel::host;

namespace {

const std::string downloads = "/home/u/Downloads";
const std::vector<std::string> any_file = {"*"};
const std::vector<std::string> images = {".jpg", ".jpeg", ".png"};

// What a dialog of the kind answers, opened as the core opens it: a folder, or files.
std::vector<std::string> open_dialog(HostPickers& pickers, dialog kind) {
    std::optional<std::vector<std::string>> got;
    const auto folder_done = [&](const std::string& folder) { got = std::vector<std::string>{folder}; };
    const auto files_done = [&](const std::vector<std::string>& files) { got = files; };
    switch (kind) {
        case dialog::folder_to_send:
            pickers.pick_folder(folder_done);
            break;
        case dialog::accepted_folder:
            pickers.pick_accepted_folder(folder_done);
            break;
        case dialog::others_folder:
            pickers.pick_others_folder(folder_done);
            break;
        case dialog::files:
            pickers.pick_files(PickerStart::Pictures, any_file, true, files_done);
            break;
        case dialog::image:
            pickers.pick_files(PickerStart::Pictures, images, false, files_done);
            break;
    }
    EXPECT_TRUE(got) << "done was not called";
    return got.value_or(std::vector<std::string>{"(not called)"});
}

bool is_folder(dialog kind) {
    return kind == dialog::folder_to_send || kind == dialog::accepted_folder || kind == dialog::others_folder;
}

// What the dialog gives with no answer of its own waiting.
std::vector<std::string> unanswered(dialog kind) {
    return is_folder(kind) ? std::vector<std::string>{downloads} : std::vector<std::string>{};
}

const dialog all_kinds[] = {dialog::folder_to_send, dialog::accepted_folder, dialog::others_folder, dialog::files,
                            dialog::image};

TEST(HostPickers, AnAnswerIsTakenOnlyByADialogOfItsKind) {
    for (dialog answered : all_kinds) {
        for (dialog opened : all_kinds) {
            if (opened == answered) continue;
            SCOPED_TRACE(testing::Message()
                         << "answered " << static_cast<int>(answered) << ", opened " << static_cast<int>(opened));
            HostPickers pickers(downloads);
            pickers.answer(answered, {"/answer/me.png"});
            EXPECT_EQ(open_dialog(pickers, opened), unanswered(opened));
            // The answer still waits for its own dialog, and goes once.
            EXPECT_EQ(open_dialog(pickers, answered), std::vector<std::string>{"/answer/me.png"});
            EXPECT_EQ(open_dialog(pickers, answered), unanswered(answered));
        }
    }
}

TEST(HostPickers, EachKindTakesItsAnswersInOrder) {
    HostPickers pickers(downloads);
    pickers.answer(dialog::files, {"/f/1.txt", "/f/2.txt"});
    pickers.answer(dialog::folder_to_send, {"/send/one"});
    pickers.answer(dialog::accepted_folder, {"/accept/one"});
    pickers.answer(dialog::files, {"/f/3.txt"});
    pickers.answer(dialog::folder_to_send, {"/send/two", "/send/ignored"});
    pickers.answer(dialog::image, {"/i/a.png"});
    pickers.answer(dialog::accepted_folder, {"/accept/two"});

    EXPECT_EQ(open_dialog(pickers, dialog::folder_to_send), std::vector<std::string>{"/send/one"});
    EXPECT_EQ(open_dialog(pickers, dialog::files), (std::vector<std::string>{"/f/1.txt", "/f/2.txt"}));
    EXPECT_EQ(open_dialog(pickers, dialog::accepted_folder), std::vector<std::string>{"/accept/one"});
    EXPECT_EQ(open_dialog(pickers, dialog::image), std::vector<std::string>{"/i/a.png"});
    // A folder dialog takes the first path of its answer.
    EXPECT_EQ(open_dialog(pickers, dialog::folder_to_send), std::vector<std::string>{"/send/two"});
    EXPECT_EQ(open_dialog(pickers, dialog::files), std::vector<std::string>{"/f/3.txt"});
    EXPECT_EQ(open_dialog(pickers, dialog::accepted_folder), std::vector<std::string>{"/accept/two"});
    for (dialog kind : all_kinds) EXPECT_EQ(open_dialog(pickers, kind), unanswered(kind));
}

TEST(HostPickers, AnEmptyAnswerIsACancel) {
    for (dialog kind : all_kinds) {
        HostPickers pickers(downloads);
        pickers.answer(kind, {});
        const auto cancelled = is_folder(kind) ? std::vector<std::string>{""} : std::vector<std::string>{};
        EXPECT_EQ(open_dialog(pickers, kind), cancelled) << static_cast<int>(kind);
        EXPECT_EQ(open_dialog(pickers, kind), unanswered(kind)) << static_cast<int>(kind);
    }
}

TEST(HostPickers, PickedFilesKeepToTheDialogsFilters) {
    struct FilterCase {
        std::vector<std::string> filters;
        bool multiple;
        std::vector<std::string> answer;
        std::vector<std::string> given;
    };
    const FilterCase cases[] = {
        {images, false, {"/p/me.jpg"}, {"/p/me.jpg"}},
        {images, false, {"/p/ME.JPEG"}, {"/p/ME.JPEG"}},
        {images, false, {"/p/notes.txt"}, {}},
        {images, false, {"/p/photo.jpg.txt"}, {}},
        {images, false, {"/p/photojpg"}, {}},
        {images, false, {"/p/jpg.dir/readme"}, {}},
        // The first file that matches, not the first file.
        {images, false, {"/p/notes.txt", "/p/a.Png", "/p/b.jpg"}, {"/p/a.Png"}},
        {{".pdf"}, true, {"/d/a.PDF", "/d/b.doc", "/d/c.pdf"}, {"/d/a.PDF", "/d/c.pdf"}},
        {{".pdf"}, true, {"/d/b.doc"}, {}},
        {{"*"}, true, {"/x/a", "/x/b.txt"}, {"/x/a", "/x/b.txt"}},
        {{".txt", "*"}, true, {"/x/a.bin"}, {"/x/a.bin"}},
        {{}, true, {"/x/a.bin"}, {"/x/a.bin"}},
    };
    for (const auto& c : cases) {
        HostPickers pickers(downloads);
        pickers.answer(c.multiple ? dialog::files : dialog::image, c.answer);
        std::optional<std::vector<std::string>> got;
        pickers.pick_files(PickerStart::None, c.filters, c.multiple,
                           [&](const std::vector<std::string>& files) { got = files; });
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, c.given) << testing::PrintToString(c.answer) << " with " << testing::PrintToString(c.filters);
    }
}

}  // namespace
