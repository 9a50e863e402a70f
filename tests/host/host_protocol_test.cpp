#include "host/host_protocol.h"

#include <gtest/gtest.h>

#include <optional>

using namespace vandrel::host;

namespace {

struct LineCase {
    std::string line;
    command_kind kind;
    std::string endpoint;
    std::string body;
    std::string peer;
    std::vector<std::string> paths;
    std::optional<dialog> answers = std::nullopt;
};

TEST(HostProtocol, ParsesEachKindOfLine) {
    const LineCase cases[] = {
        {"", command_kind::empty, "", "", "", {}},
        {"   \t", command_kind::empty, "", "", "", {}},
        {"/who_am_i {}", command_kind::api_request, "/who_am_i", "{}", "", {}},
        {"/who_am_i", command_kind::api_request, "/who_am_i", "", "", {}},
        {"/create_chat {\"id\": \"a b\", \"data\": \"x  y\"}\r",
         command_kind::api_request,
         "/create_chat",
         "{\"id\": \"a b\", \"data\": \"x  y\"}",
         "",
         {}},
        {":quit", command_kind::quit, "", "", "", {}},
        {":pick-folder peer1 /tmp/photos",
         command_kind::pick_folder,
         "",
         "",
         "peer1",
         {"/tmp/photos"},
         dialog::folder_to_send},
        {":pick-files /a /b  /c", command_kind::pick_files, "", "", "", {"/a", "/b", "/c"}, dialog::files},
        {":pick-category {\"type\": \"photos\", \"to\": \"p\"} /x.jpg /y.jpg",
         command_kind::pick_category,
         "",
         "{\"type\": \"photos\", \"to\": \"p\"}",
         "",
         {"/x.jpg", "/y.jpg"},
         dialog::files},
        {":pick-category {\"to\": \"p}\", \"type\": \"folder\"}",
         command_kind::pick_category,
         "",
         "{\"to\": \"p}\", \"type\": \"folder\"}",
         "",
         {},
         dialog::folder_to_send},
        {":pick-category {\"type\": \"folder\", \"to\": \"p\"} '/my dir'",
         command_kind::pick_category,
         "",
         "{\"type\": \"folder\", \"to\": \"p\"}",
         "",
         {"/my dir"},
         dialog::folder_to_send},
        // Only the exact type opens the folder dialog; anything else, unreadable JSON too, picks files.
        {":pick-category {\"type\": \"Folder\"} /f",
         command_kind::pick_category,
         "",
         "{\"type\": \"Folder\"}",
         "",
         {"/f"},
         dialog::files},
        {":pick-category {\"type\" \"folder\"} /f",
         command_kind::pick_category,
         "",
         "{\"type\" \"folder\"}",
         "",
         {"/f"},
         dialog::files},
        {":pick-image /me.png", command_kind::pick_image, "", "", "", {"/me.png"}, dialog::image},
        {":pick-accepted-folder /srv/music",
         command_kind::pick_accepted_folder,
         "/add_accepted_folder",
         "{}",
         "",
         {"/srv/music"},
         dialog::accepted_folder},
    };
    for (const auto& c : cases) {
        command got = parse_command(c.line);
        EXPECT_EQ(got.kind, c.kind) << c.line;
        EXPECT_EQ(got.endpoint, c.endpoint) << c.line;
        EXPECT_EQ(got.body, c.body) << c.line;
        EXPECT_EQ(got.peer, c.peer) << c.line;
        EXPECT_EQ(got.paths, c.paths) << c.line;
        EXPECT_EQ(got.answers, c.answers) << c.line;
    }
}

TEST(HostProtocol, WordsAreQuotedAsInAShell) {
    struct QuotedCase {
        std::string args;  // after ":pick-files "
        std::vector<std::string> paths;
    };
    const QuotedCase cases[] = {
        {"/plain/a /plain/b", {"/plain/a", "/plain/b"}},
        {"'/my photos/a b.jpg'", {"/my photos/a b.jpg"}},
        {"'/it''s'", {"/its"}},
        {"'a \\ \"$x\"'", {"a \\ \"$x\""}},
        {"\"/my photos\"", {"/my photos"}},
        {"\"a\\\"b \\\\ \\$c \\`d\"", {"a\"b \\ $c `d"}},
        {"\"a\\nb 'c'\"", {"a\\nb 'c'"}},
        {"/my\\ photos /x\\'y \\\\z", {"/my photos", "/x'y", "\\z"}},
        {"/a\\ ", {"/a "}},
        {"/a\"b c\"'d e'f", {"/ab cd ef"}},
        {"'' \"\"", {"", ""}},
        {"\t/a\t\t/b  \r", {"/a", "/b"}},
    };
    for (const auto& c : cases) {
        const std::string line = ":pick-files " + c.args;
        command got = parse_command(line);
        EXPECT_EQ(got.kind, command_kind::pick_files) << line << ": " << got.error;
        EXPECT_EQ(got.paths, c.paths) << line;
    }

    command folder = parse_command(":pick-folder \"peer one\" /tmp/my\\ dir");
    EXPECT_EQ(folder.peer, "peer one");
    EXPECT_EQ(folder.paths, std::vector<std::string>{"/tmp/my dir"});
    command accepted = parse_command(":pick-accepted-folder '/srv/old  music'");
    EXPECT_EQ(accepted.paths, std::vector<std::string>{"/srv/old  music"});
    command image = parse_command(":pick-image \"/me/the face.png\"");
    EXPECT_EQ(image.paths, std::vector<std::string>{"/me/the face.png"});
}

TEST(HostProtocol, MalformedCommandsSayWhy) {
    const char* lines[] = {
        ":pick-folder onlypeer",
        ":pick-files",
        ":pick-category notjson /x",
        ":pick-category {\"open\": 1",
        ":pick-image",
        ":pick-image /a /b",
        ":pick-image '/a b' /c",
        ":pick-accepted-folder",
        ":pick-accepted-folder /a /b",
        ":pick-files '/unterminated",
        ":pick-files \"/unterminated",
        ":pick-files \"/escaped end\\\"",
        ":pick-files /a\\",
        ":pick-folder \"peer /a",
        ":pick-category {\"type\": \"files\"} '/x",
        ":pick-accepted-folder '/x",
        ":frobnicate",
    };
    for (const char* line : lines) {
        command got = parse_command(line);
        EXPECT_EQ(got.kind, command_kind::invalid) << line;
        EXPECT_FALSE(got.error.empty()) << line;
    }
    // A quote left open is named as such.
    EXPECT_NE(parse_command(":pick-files '/a").error.find("unterminated single quote"), std::string::npos);
    EXPECT_NE(parse_command(":pick-files \"/a").error.find("unterminated double quote"), std::string::npos);
}

TEST(HostProtocol, OutputLines) {
    EXPECT_EQ(reply_line("/who_am_i", "{\"status\": \"success\"}"), "reply /who_am_i {\"status\": \"success\"}");
    EXPECT_EQ(event_line("core_started"), "event core_started");
}

}  // namespace
