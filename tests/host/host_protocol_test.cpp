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

// Each refused line is answered under its endpoint or command, with a code.
TEST(HostProtocol, MalformedLinesSayWhy) {
    struct refused_line {
        const char* line;
        const char* reply_to;
        const char* code;
    };
    const refused_line cases[] = {
        {":pick-folder onlypeer", ":pick-folder", "invalid_arguments"},
        {":pick-files", ":pick-files", "invalid_arguments"},
        {":pick-category notjson /x", ":pick-category", "invalid_arguments"},
        {":pick-category {\"open\": 1", ":pick-category", "invalid_arguments"},
        {":pick-image", ":pick-image", "invalid_arguments"},
        {":pick-image /a /b", ":pick-image", "invalid_arguments"},
        {":pick-image '/a b' /c", ":pick-image", "invalid_arguments"},
        {":pick-accepted-folder", ":pick-accepted-folder", "invalid_arguments"},
        {":pick-accepted-folder /a /b", ":pick-accepted-folder", "invalid_arguments"},
        {":pick-files '/unterminated", ":pick-files", "invalid_arguments"},
        {":pick-files \"/unterminated", ":pick-files", "invalid_arguments"},
        {":pick-files \"/escaped end\\\"", ":pick-files", "invalid_arguments"},
        {":pick-files /a\\", ":pick-files", "invalid_arguments"},
        {":pick-folder \"peer /a", ":pick-folder", "invalid_arguments"},
        {":pick-category {\"type\": \"files\"} '/x", ":pick-category", "invalid_arguments"},
        {":pick-accepted-folder '/x", ":pick-accepted-folder", "invalid_arguments"},
        // Quoted nothing is a word, and an empty path.
        {":pick-files '' \"\"", ":pick-files", "empty_path"},
        {":pick-files /a '' /b", ":pick-files", "empty_path"},
        {":pick-folder peer \"\"", ":pick-folder", "empty_path"},
        {":frobnicate", ":frobnicate", "unknown_command"},
        {"/who_am_i {bad json", "/who_am_i", "invalid_json"},
        {"/create_chat {\"id\": \"x\", \"data\": \"unterminated", "/create_chat", "invalid_json"},
        {"/hello_world not json", "/hello_world", "invalid_json"},
        {"/who_am_i {} {}", "/who_am_i", "invalid_json"},
    };
    for (const auto& c : cases) {
        command got = parse_command(c.line);
        EXPECT_EQ(got.kind, command_kind::invalid) << c.line;
        EXPECT_FALSE(got.answers) << c.line << ": a refused pick answers no dialog";
        EXPECT_EQ(got.reply_to, c.reply_to) << c.line;
        EXPECT_EQ(got.error_code, c.code) << c.line;
        EXPECT_FALSE(got.error.empty()) << c.line;
        const std::string reply = error_reply(got);
        EXPECT_EQ(
            reply.rfind(std::string("reply ") + c.reply_to + " {\"error_code\": \"" + c.code + "\", \"message\": ", 0),
            0u)
            << reply;
        EXPECT_EQ(reply.substr(reply.size() - 20), ", \"status\": \"error\"}") << reply;
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
