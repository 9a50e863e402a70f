#include "host/host_protocol.h"

#include <gtest/gtest.h>

using namespace vandrel::host;

namespace {

struct LineCase {
    std::string line;
    command_kind kind;
    std::string endpoint;
    std::string body;
    std::string peer;
    std::vector<std::string> paths;
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
        {":pick-folder peer1 /tmp/photos", command_kind::pick_folder, "", "", "peer1", {"/tmp/photos"}},
        {":pick-files /a /b  /c", command_kind::pick_files, "", "", "", {"/a", "/b", "/c"}},
        {":pick-category {\"type\": \"photos\", \"to\": \"p\"} /x.jpg /y.jpg",
         command_kind::pick_category,
         "",
         "{\"type\": \"photos\", \"to\": \"p\"}",
         "",
         {"/x.jpg", "/y.jpg"}},
        {":pick-category {\"to\": \"p}\", \"type\": \"folder\"}",
         command_kind::pick_category,
         "",
         "{\"to\": \"p}\", \"type\": \"folder\"}",
         "",
         {}},
        {":pick-image /me.png", command_kind::pick_image, "", "", "", {"/me.png"}},
    };
    for (const auto& c : cases) {
        command got = parse_command(c.line);
        EXPECT_EQ(got.kind, c.kind) << c.line;
        EXPECT_EQ(got.endpoint, c.endpoint) << c.line;
        EXPECT_EQ(got.body, c.body) << c.line;
        EXPECT_EQ(got.peer, c.peer) << c.line;
        EXPECT_EQ(got.paths, c.paths) << c.line;
    }
}

TEST(HostProtocol, MalformedCommandsSayWhy) {
    const char* lines[] = {
        ":pick-folder onlypeer",
        ":pick-files",
        ":pick-category notjson /x",
        ":pick-category {\"open\": 1",
        ":pick-image",
        ":pick-image /a /b",
        ":frobnicate",
    };
    for (const char* line : lines) {
        command got = parse_command(line);
        EXPECT_EQ(got.kind, command_kind::invalid) << line;
        EXPECT_FALSE(got.error.empty()) << line;
    }
}

TEST(HostProtocol, OutputLines) {
    EXPECT_EQ(reply_line("/who_am_i", "{\"status\": \"success\"}"), "reply /who_am_i {\"status\": \"success\"}");
    EXPECT_EQ(event_line("core_started"), "event core_started");
}

}  // namespace
