#include "core_lib/net/web_share/web_share_server.h"

#include <gtest/gtest.h>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/sha256.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/app_version.h"
#include "tests/net/web_share/web_share_fixture.h"

namespace vandrel {
namespace {

using testing::web_test::patterned_bytes;
using testing::web_test::raw_get;
using testing::web_test::raw_reply;
using testing::web_test::test_page;
using testing::web_test::WebShareTest;
using namespace std::chrono_literals;

Json parsed(const std::string& text) {
    std::string err;
    return Json::parse(text, err);
}

// Each row from an address of its own, so that no row's wrong code counts against another.
std::string row_address(std::size_t row) { return "127.0.3." + std::to_string(10 + row); }

class WebShareServer : public WebShareTest {};

TEST_F(WebShareServer, ApiRoutesAskForTheCodeOnlyOnProtectedPaths) {
    const std::string id = share("b.txt", "bee");
    const std::string a_id = share("A.txt", "a");
    enum class code { none, wrong, right };
    struct row {
        std::string path;
        code given;
        std::string header_name;
        unsigned status;
        std::string body;  // "" for an empty body; "files" for the list of both files
    };
    const std::string h = "x_mesk_web_mode_code";
    const std::vector<row> rows = {
        {"/hello_world", code::none, h, 200, R"({"status": "success"})"},
        {"/hello_world", code::wrong, h, 200, R"({"status": "success"})"},
        {"/os", code::none, h, 200, R"({"os": "linux", "status": "success", "version": ")" + app_version() + "\"}"},
        {"/login", code::none, h, 200, R"({"status": "success"})"},
        {"/protected_check_code", code::none, h, 401, ""},
        {"/protected_check_code", code::wrong, h, 401, ""},
        {"/protected_check_code", code::right, h, 200, R"({"status": "success"})"},
        {"/protected_check_code", code::right, "X_MESK_WEB_MODE_CODE", 200, R"({"status": "success"})"},
        {"/protected_check_code", code::right, "X_Mesk_Web_Mode_Code", 200, R"({"status": "success"})"},
        {"/files", code::none, h, 401, ""},
        {"/files", code::wrong, h, 401, ""},
        {"/files", code::right, h, 200, "files"},
        {"/files", code::right, "X_MESK_Web_Mode_CODE", 200, "files"},
        {"/protected_root_files", code::none, h, 401, ""},
        {"/protected_root_files", code::right, h, 200, "files"},
        {"/files/more", code::right, h, 200, R"({"files": [], "status": "success"})"},
        // Protected by their prefix, known to no route.
        {"/protected_nothing", code::none, h, 401, ""},
        {"/protected_nothing", code::right, h, 200, ""},
        // Unknown: neither letter case nor a trailing slash matches a route.
        {"/Hello_world", code::none, h, 200, ""},
        {"/hello_world/", code::none, h, 200, ""},
        {"/Files", code::none, h, 200, ""},
        {"", code::none, h, 200, ""},
    };
    const std::string files_body =
        Json(Json::object{
                 {"status", "success"},
                 {"files",
                  Json::array{
                      Json::object{{"id", a_id}, {"name", "A.txt"}, {"type", "file"}, {"size", 1}},
                      Json::object{{"id", id}, {"name", "b.txt"}, {"type", "file"}, {"size", 3}},
                  }}})
            .dump();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const row& r = rows[i];
        SCOPED_TRACE(r.path + " with header " + r.header_name + " code " + std::to_string(static_cast<int>(r.given)));
        std::vector<std::pair<std::string, std::string>> headers;
        if (r.given != code::none) headers.emplace_back(r.header_name, r.given == code::right ? code_ : wrong_code());
        const raw_reply reply = raw_get(port_, "/http_mode_api/v1" + r.path, headers, row_address(i));
        ASSERT_TRUE(reply.ok);
        EXPECT_EQ(reply.status, r.status);
        EXPECT_TRUE(reply.chunked);
        EXPECT_EQ(reply.body, r.body == "files" ? files_body : r.body);
        if (r.status == 200) {
            EXPECT_EQ(reply.names(), (std::vector<std::string>{"Access-Control-Allow-Origin",
                                                               "Access-Control-Allow-Headers", "Transfer-Encoding"}));
            EXPECT_EQ(reply.field("Access-Control-Allow-Headers"), "*");
        }
        EXPECT_EQ(reply.field("Access-Control-Allow-Origin"), "*");
    }
}

TEST_F(WebShareServer, WhoAmITellsTheDevice) {
    const Json reply = parsed(raw_get(port_, "/http_mode_api/v1/who_am_i").body);
    EXPECT_EQ(reply["status"].string_value(), "success");
    EXPECT_EQ(reply["alias"].string_value(), get_alias());
    EXPECT_EQ(reply["device_id"].string_value(), get_userid());
    EXPECT_EQ(reply["sys_info"].string_value(), "Test Model - Test Maker");
    EXPECT_EQ(reply.object_items().size(), 4u);
}

TEST_F(WebShareServer, AFileNeedsTheCodeInTheHeaderOrTheQuery) {
    const std::string bytes = patterned_bytes(100000);  // several pieces
    const std::string id = share("clip.bin", bytes);
    struct row {
        std::string name;
        std::string query;
        std::vector<std::pair<std::string, std::string>> headers;
        unsigned status;
    };
    const std::vector<row> rows = {
        {"no code", "", {}, 401},
        {"empty query code", "?code=", {}, 401},
        {"wrong code in the header", "", {{"x_mesk_web_mode_code", wrong_code()}}, 401},
        {"wrong code in the query", "?code=" + wrong_code(), {}, 401},
        {"right code in the header", "", {{"x_mesk_web_mode_code", code_}}, 200},
        {"right code, header name in capitals", "", {{"X_MESK_WEB_MODE_CODE", code_}}, 200},
        {"right code in the query", "?code=" + code_, {}, 200},
        {"right code among other parameters", "?v=2&code=" + code_ + "&x", {}, 200},
        // The header, when there is one, is what counts.
        {"wrong header, right query", "?code=" + code_, {{"x_mesk_web_mode_code", wrong_code()}}, 401},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const row& r = rows[i];
        SCOPED_TRACE(r.name);
        const raw_reply reply = raw_get(port_, "/file/v1/" + id + r.query, r.headers, row_address(i));
        ASSERT_TRUE(reply.ok);
        EXPECT_EQ(reply.status, r.status);
        EXPECT_EQ(reply.field("Access-Control-Allow-Origin"), "*");
        if (r.status != 200) {
            EXPECT_EQ(reply.body, "");
            continue;
        }
        EXPECT_TRUE(reply.chunked);
        EXPECT_EQ(sha256_hex(reply.body), sha256_hex(bytes));
        EXPECT_EQ(reply.names(),
                  (std::vector<std::string>{"Access-Control-Allow-Origin", "Content-Transfer-Encoding", "Content-Type",
                                            "Content-Disposition", "Transfer-Encoding", "Connection"}));
        EXPECT_EQ(reply.field("Content-Transfer-Encoding"), "binary");
        EXPECT_EQ(reply.field("Content-Type"), "application/octet-stream");
        EXPECT_EQ(reply.field("Content-Disposition"), "attachment; filename=\"clip.bin\"");
    }
}

TEST_F(WebShareServer, UnknownMissingAndEmptyFiles) {
    const std::string gone = share("gone.bin", "soon gone");
    std::filesystem::remove(local_file(gone));
    const std::string empty = share("empty.bin", "");
    const std::vector<std::pair<std::string, std::string>> with_code = {{"x_mesk_web_mode_code", code_}};
    EXPECT_EQ(raw_get(port_, "/file/v1/" + std::string(64, 'a'), with_code).status, 404u);
    EXPECT_EQ(raw_get(port_, "/file/v1", with_code).status, 404u);
    EXPECT_EQ(raw_get(port_, "/file/v1/" + gone, with_code).status, 404u);
    const raw_reply whole = raw_get(port_, "/file/v1/" + empty, with_code);
    EXPECT_EQ(whole.status, 200u);
    EXPECT_EQ(whole.body, "");
    auto ranged = with_code;
    ranged.emplace_back("Range", "bytes=0-");
    const raw_reply nothing = raw_get(port_, "/file/v1/" + empty, ranged);
    EXPECT_EQ(nothing.status, 416u);
    EXPECT_EQ(nothing.field("Content-Range"), "bytes */0");
}

TEST_F(WebShareServer, RangesServeWhatTheyAskFor) {
    constexpr std::size_t size = 100000;
    const std::string bytes = patterned_bytes(size);
    const std::string id = share("clip.mp4", bytes);
    const std::string total = std::to_string(size);
    const std::vector<std::string> from_zero = {"Access-Control-Allow-Origin",
                                                "Accept-Ranges",
                                                "Content-Type",
                                                "Content-Disposition",
                                                "Content-Range",
                                                "Content-Length",
                                                "Connection"};
    const std::vector<std::string> from_later = {"Access-Control-Allow-Origin",
                                                 "Content-Type",
                                                 "Accept-Ranges",
                                                 "Content-Range",
                                                 "Content-Length",
                                                 "Connection"};
    struct row {
        std::string range;
        unsigned status;
        std::size_t first;  // of the bytes served
        std::size_t count;
        std::string content_range;
    };
    const std::vector<row> rows = {
        {"bytes=0-", 206, 0, size, "bytes 0-99999/" + total},
        {"bytes=100-199", 206, 100, 100, "bytes 100-199/" + total},
        {"bytes=0-0", 206, 0, 1, "bytes 0-0/" + total},
        {"bytes=16000-50000", 206, 16000, 34001, "bytes 16000-50000/" + total},
        {"bytes=99999-", 206, 99999, 1, "bytes 99999-99999/" + total},
        {"bytes=100-", 206, 100, size - 100, "bytes 100-99999/" + total},
        {"bytes=100-999999999", 206, 100, size - 100, "bytes 100-99999/" + total},
        {"bytes=-500", 206, size - 500, 500, "bytes 99500-99999/" + total},
        {"bytes=-200000", 206, 0, size, "bytes 0-99999/" + total},
        {"Bytes=10-19", 206, 10, 10, "bytes 10-19/" + total},
        {"bytes= 10 - 19 ", 206, 10, 10, "bytes 10-19/" + total},
        {"bytes=10-19, 30-39", 206, 10, 10, "bytes 10-19/" + total},
        {"bytes=100000-", 416, 0, 0, "bytes */" + total},
        {"bytes=100010-100020", 416, 0, 0, "bytes */" + total},
        {"bytes=-0", 416, 0, 0, "bytes */" + total},
        // What does not parse is served from 0.
        {"garbage", 206, 0, size, "bytes 0-99999/" + total},
        {"bytes=abc-", 206, 0, size, "bytes 0-99999/" + total},
        {"bytes=50-10", 206, 0, size, "bytes 0-99999/" + total},
        {"bytes=99999999999999999999999-", 206, 0, size, "bytes 0-99999/" + total},
        {"items=0-10", 206, 0, size, "bytes 0-99999/" + total},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.range);
        const raw_reply reply = raw_get(port_, "/file/v1/" + id + "?code=" + code_, {{"Range", r.range}});
        ASSERT_TRUE(reply.ok);
        EXPECT_EQ(reply.status, r.status);
        EXPECT_EQ(reply.field("Content-Range"), r.content_range);
        // A refusal has an empty body, chunked like every other refusal of this server.
        EXPECT_EQ(reply.chunked, r.status != 206);
        if (r.status == 206) {
            EXPECT_EQ(reply.field("Content-Length"), std::to_string(r.count));
        }
        EXPECT_EQ(sha256_hex(reply.body), sha256_hex(bytes.substr(r.first, r.count)));
        if (r.status == 206) {
            EXPECT_EQ(reply.names(), r.first == 0 ? from_zero : from_later);
        }
    }
}

TEST_F(WebShareServer, PagePathsStayInsideThePageFolder) {
    struct row {
        std::string target;
        unsigned status;
        std::string body;
        std::string type;
    };
    const std::string index = "<!doctype html><title>page</title>";
    const std::vector<row> rows = {
        {"/", 200, index, "text/html"},
        {"/index.html", 200, index, "text/html"},
        {"/app.js?v=2", 200, "console.log('app');", "text/javascript"},
        {"/style.css", 200, "body { margin: 0; }", "text/css"},
        {"/img/logo.png", 200, "png bytes", "image/png"},
        {"/%69ndex.html", 200, index, "text/html"},
        {"/missing.js", 404, "", ""},
        {"/img/", 404, "", ""},
        {"/../secret.txt", 404, "", ""},
        {"/../../secret.txt", 404, "", ""},
        {"/img/../../secret.txt", 404, "", ""},
        {"/%2e%2e/secret.txt", 404, "", ""},
        {"/%2E%2E/%2E%2E/secret.txt", 404, "", ""},
        {"/..%2fsecret.txt", 404, "", ""},
        {"/%2e%2e%2f%2e%2e%2fsecret.txt", 404, "", ""},
        {"/.%2e/secret.txt", 404, "", ""},
        {"/img/%2e%2e/index.html", 404, "", ""},
        {"/%2e%2e%5csecret.txt", 404, "", ""},
        {"/./index.html", 404, "", ""},
        {"//index.html", 404, "", ""},
        {"/index.html%00.js", 404, "", ""},
        {"/%zz", 404, "", ""},
        {"/index.html%", 404, "", ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.target);
        const raw_reply reply = raw_get(port_, r.target);
        ASSERT_TRUE(reply.ok);
        EXPECT_EQ(reply.status, r.status);
        EXPECT_EQ(reply.body, r.body);
        EXPECT_TRUE(reply.chunked);
        EXPECT_EQ(reply.field("Access-Control-Allow-Origin"), "*");
        if (r.status == 200) {
            EXPECT_EQ(reply.field("Content-Type"), r.type);
        }
    }
}

TEST_F(WebShareServer, FiveWrongCodesLockTheirAddressOutAndNoOther) {
    const std::string id = share("clip.bin", "clip bytes");
    const std::string guesser = "127.0.4.1";
    const std::string other = "127.0.4.2";
    const std::string right_query = "/file/v1/" + id + "?code=" + code_;
    const std::vector<std::pair<std::string, std::string>> wrong = {{"x_mesk_web_mode_code", wrong_code()}};
    // Guesses through either road count together.
    for (int i = 0; i < 5; ++i) {
        const std::string target = i % 2 == 0 ? "/http_mode_api/v1/protected_check_code" : "/file/v1/" + id;
        EXPECT_EQ(raw_get(port_, target, wrong, guesser).status, 401u) << "guess " << i + 1;
    }
    const raw_reply locked = raw_get(port_, right_query, {}, guesser);
    EXPECT_EQ(locked.status, 429u) << "even the right code, once locked out";
    EXPECT_EQ(locked.field("Retry-After"), "60");
    EXPECT_EQ(locked.field("Access-Control-Allow-Origin"), "*");
    EXPECT_EQ(raw_get(port_, "/http_mode_api/v1/files", {{"x_mesk_web_mode_code", code_}}, guesser).status, 429u);
    // What needs no code is still served.
    EXPECT_EQ(raw_get(port_, "/http_mode_api/v1/hello_world", {}, guesser).status, 200u);
    EXPECT_EQ(raw_get(port_, "/", {}, guesser).status, 200u);

    const raw_reply elsewhere = raw_get(port_, right_query, {}, other);
    EXPECT_EQ(elsewhere.status, 200u);
    EXPECT_EQ(elsewhere.body, "clip bytes");
    EXPECT_EQ(raw_get(port_, "/http_mode_api/v1/protected_check_code", {{"x_mesk_web_mode_code", code_}}, other).status,
              200u);
}

// Every browser saves the right name: a plain ASCII one for all, and the UTF-8 one beside
// it for names beyond ASCII.
TEST_F(WebShareServer, NamesInTheDispositionCannotBreakTheHeader) {
    struct row {
        std::string name;
        std::string disposition;
    };
    const std::vector<row> rows = {
        {"say \"hi\".txt", R"(attachment; filename="say \"hi\".txt")"},
        {"back\\slash.txt", R"(attachment; filename="back\\slash.txt")"},
        {"plain name-1.txt", R"(attachment; filename="plain name-1.txt")"},
        {"\xc3\xa9t\xc3\xa9.txt", "attachment; filename=\"_t_.txt\"; filename*=UTF-8''%C3%A9t%C3%A9.txt"},
        {"\xe6\x97\xa5\xe8\xa8\x98 \"1\";2%.txt",
         "attachment; filename=\"__ \\\"1\\\";2%.txt\"; filename*=UTF-8''%E6%97%A5%E8%A8%98%20%221%22%3B2%25.txt"},
        {"\xf0\x9f\x93\xb7.jpg", "attachment; filename=\"_.jpg\"; filename*=UTF-8''%F0%9F%93%B7.jpg"},
        // A line break would split the answer: it is left out, the answer stands.
        {"a\r\nSet-Cookie: x=1", "attachment; filename=\"aSet-Cookie: x=1\""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const raw_reply reply = raw_get(port_, "/file/v1/" + share(r.name, "x") + "?code=" + code_);
        EXPECT_EQ(reply.status, 200u);
        EXPECT_EQ(reply.field("Content-Disposition"), r.disposition);
        EXPECT_FALSE(reply.has("Set-Cookie"));
        EXPECT_EQ(reply.body, "x");
    }
}

TEST_F(WebShareServer, ConnectionsAreCappedPerAddressPagesIncluded) {
    const std::size_t cap = peer_server_limits().max_connections_per_address;
    std::vector<std::unique_ptr<test_page>> pages;
    for (std::size_t i = 0; i < cap; ++i) {
        pages.push_back(std::make_unique<test_page>(port_, "/", "127.0.5.1"));
        ASSERT_TRUE(pages.back()->open()) << "page " << i;
    }
    // One more from the same address is closed at once; another address is served.
    test::test_connection over(port_, false, "127.0.0.1", 5s, "127.0.5.1");
    EXPECT_TRUE(over.closed_by_server(5s));
    EXPECT_EQ(raw_get(port_, "/", {}, "127.0.5.2").status, 200u);
    // A page that leaves gives its place back.
    pages.pop_back();
    bool served = false;
    for (int tries = 0; tries < 50 && !served; ++tries) {
        served = raw_get(port_, "/", {}, "127.0.5.1").status == 200;
        if (!served) std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(served);
}

TEST(WebShareRange, ParsesAgainstTheSize) {
    using kind = byte_range::kind;
    struct row {
        std::string header;
        std::uint64_t size;
        kind result;
        std::uint64_t first, last;
    };
    const std::vector<row> rows = {
        {"bytes=0-", 10, kind::satisfiable, 0, 9},
        {"bytes=3-5", 10, kind::satisfiable, 3, 5},
        {"bytes=3-3", 10, kind::satisfiable, 3, 3},
        {"bytes=-3", 10, kind::satisfiable, 7, 9},
        {"bytes=-10", 10, kind::satisfiable, 0, 9},
        {"bytes=9-", 10, kind::satisfiable, 9, 9},
        {"bytes=10-", 10, kind::unsatisfiable, 0, 0},
        {"bytes=0-", 0, kind::unsatisfiable, 0, 0},
        {"bytes=-1", 0, kind::unsatisfiable, 0, 0},
        {"bytes=18446744073709551615-", 10, kind::unsatisfiable, 0, 0},
        {"bytes=18446744073709551616-", 10, kind::satisfiable, 0, 9},
        {"bytes=-", 10, kind::satisfiable, 0, 9},
        {"bytes=", 10, kind::satisfiable, 0, 9},
        {"bytes=1-2-3", 10, kind::satisfiable, 0, 9},
        {"bytes=+1-2", 10, kind::satisfiable, 0, 9},
        {"", 10, kind::satisfiable, 0, 9},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.header + " of " + std::to_string(r.size));
        const byte_range range = parse_byte_range(r.header, r.size);
        EXPECT_EQ(range.result, r.result);
        if (r.result == kind::satisfiable) {
            EXPECT_EQ(range.first, r.first);
            EXPECT_EQ(range.last, r.last);
        }
    }
}

}  // namespace
}  // namespace vandrel
