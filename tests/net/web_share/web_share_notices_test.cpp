#include "core_lib/net/web_share/web_share_notices.h"

#include <gtest/gtest.h>

#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include "core_lib/foundation/peer_limits.h"
#include "core_lib/store/shared_pending.h"
#include "tests/net/web_share/web_share_fixture.h"

namespace vandrel {
namespace {

using testing::web_test::test_page;
using testing::web_test::WebShareTest;
using namespace std::chrono_literals;

class WebShareNotices : public WebShareTest {
protected:
    // Until the server holds that many pages.
    bool server_holds(std::size_t pages) {
        for (int i = 0; i < 250; ++i) {
            if (web_share_.open_pages() == pages) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
};

TEST_F(WebShareNotices, EachOpenPageGetsOneNoticePerChange) {
    const std::string notice = R"({"action": "files_to_share_changed"})";
    EXPECT_EQ(files_changed_notice(), notice);
    test_page first(port_, "/");
    test_page second(port_, "/any/path?at=all", "127.0.6.2");
    ASSERT_TRUE(first.open());
    ASSERT_TRUE(second.open());
    ASSERT_TRUE(server_holds(2));

    const std::string id = share("new.txt", "new");
    EXPECT_TRUE(first.wait_for_frames(1, 1s));
    EXPECT_TRUE(second.wait_for_frames(1, 1s));
    // One change, one notice: none follows.
    EXPECT_FALSE(first.wait_for_frames(2, 500ms));
    EXPECT_EQ(first.frames(), std::vector<std::string>{notice});
    EXPECT_EQ(second.frames(), std::vector<std::string>{notice});

    db_remove_shared_file(id);
    EXPECT_TRUE(first.wait_for_frames(2, 1s));
    EXPECT_TRUE(second.wait_for_frames(2, 1s));
    EXPECT_EQ(first.frames(), (std::vector<std::string>{notice, notice}));
}

TEST_F(WebShareNotices, WhatAPageSendsIsIgnoredAndALeavingPageIsForgotten) {
    test_page talking(port_, "/");
    ASSERT_TRUE(talking.open());
    {
        test_page leaving(port_, "/");
        ASSERT_TRUE(leaving.open());
        ASSERT_TRUE(server_holds(2));
        talking.send_text("hello from the page");
        talking.send_text(std::string(2000, 'x'));
    }
    ASSERT_TRUE(server_holds(1));
    share("new.txt", "new");
    EXPECT_TRUE(talking.wait_for_frames(1, 1s));
    EXPECT_FALSE(talking.wait_closed(200ms));
}

TEST_F(WebShareNotices, APageThatSendsTooMuchIsClosed) {
    test_page page(port_, "/");
    ASSERT_TRUE(page.open());
    page.send_text(std::string(std::size_t{64} * 1024, 'x'));
    EXPECT_TRUE(page.wait_closed(5s));
    ASSERT_TRUE(server_holds(0));
}

TEST_F(WebShareNotices, OpenPagesAreCappedPerAddressAndInAll) {
    // The status a new page from the address gets to its upgrade.
    const auto upgrade_status = [this](const std::string& address) {
        return testing::web_test::raw_get(port_, "/",
                                          {{"Connection", "Upgrade"},
                                           {"Upgrade", "websocket"},
                                           {"Sec-WebSocket-Version", "13"},
                                           {"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="}},
                                          address)
            .status;
    };
    std::vector<std::unique_ptr<test_page>> pages;
    for (std::size_t i = 0; i < limits::web_pages_per_address; ++i) {
        pages.push_back(std::make_unique<test_page>(port_, "/", "127.0.8.1"));
        ASSERT_TRUE(pages.back()->open()) << "page " << i;
    }
    EXPECT_EQ(upgrade_status("127.0.8.1"), 503u) << "one more from the same address";
    // Other addresses up to the cap of all pages, then no more from anywhere.
    for (std::size_t i = pages.size(); i < limits::web_pages; ++i) {
        const std::string address = "127.0.9." + std::to_string(1 + i / limits::web_pages_per_address);
        pages.push_back(std::make_unique<test_page>(port_, "/", address));
        ASSERT_TRUE(pages.back()->open()) << "page " << i << " from " << address;
    }
    ASSERT_TRUE(server_holds(limits::web_pages));
    EXPECT_EQ(upgrade_status("127.0.10.1"), 503u) << "a new address over the cap of all";
    // Refused pages leave the page's own fetches served, and the notices go on.
    EXPECT_EQ(testing::web_test::raw_get(port_, "/", {}, "127.0.10.1").status, 200u);
    share("new.txt", "new");
    EXPECT_TRUE(pages.front()->wait_for_frames(1, 2s));
    // A page that leaves gives its place back.
    pages.pop_back();
    ASSERT_TRUE(server_holds(limits::web_pages - 1));
    EXPECT_TRUE(test_page(port_, "/", "127.0.10.1").open());
}

TEST_F(WebShareNotices, APageSendingFramesFasterThanASmallRateIsClosed) {
    test_page calm(port_, "/");
    test_page flooding(port_, "/", "127.0.11.1");
    ASSERT_TRUE(calm.open());
    ASSERT_TRUE(flooding.open());
    for (unsigned i = 0; i < limits::page_frame_burst * 10; ++i) flooding.send_text("x");
    EXPECT_TRUE(flooding.wait_closed(5s));
    ASSERT_TRUE(server_holds(1));
    // A page within the rate stays.
    for (int i = 0; i < 5; ++i) {
        calm.send_text("ping from the page");
        std::this_thread::sleep_for(200ms);
    }
    share("new.txt", "new");
    EXPECT_TRUE(calm.wait_for_frames(1, 2s));
    EXPECT_FALSE(calm.wait_closed(100ms));
}

TEST_F(WebShareNotices, FramesWithoutPayloadAreReadOnlyAtABoundedRate) {
    // A page that sends one message of empty fragments without end: no read ever ends, so
    // only the bytes themselves can be rationed.
    namespace net = boost::asio;
    net::io_context io;
    net::ip::tcp::socket socket(io);
    socket.connect({net::ip::make_address("127.0.0.1"), port_});
    const std::string upgrade =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
        "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    net::write(socket, net::buffer(upgrade));
    net::streambuf answer;
    net::read_until(socket, answer, "\r\n\r\n");
    ASSERT_TRUE(server_holds(1));
    // A text frame that is not the last, then empty continuations, each masked.
    net::write(socket, net::buffer(std::string("\x01\x80\x00\x00\x00\x00", 6)));
    std::string frames;
    while (frames.size() < std::size_t{64} * 1024) frames += std::string("\x00\x80\x00\x00\x00\x00", 6);
    socket.non_blocking(true);
    std::size_t accepted = 0;
    std::size_t at = 0;
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < end) {
        boost::system::error_code ec;
        const std::size_t n = socket.write_some(net::buffer(frames.data() + at, frames.size() - at), ec);
        if (ec == net::error::would_block) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        ASSERT_FALSE(ec) << ec.message();
        accepted += n;
        // The buffer is whole frames alike, so going round it keeps the frames whole.
        at = (at + n) % frames.size();
    }
    // The socket buffers of both ends hold a few MiB; the rest was never read.
    EXPECT_LT(accepted, std::size_t{32} * 1024 * 1024);
}

TEST_F(WebShareNotices, ChangesWhileNoPageIsOpenAreNotKeptForLaterPages) {
    share("early.txt", "early");
    std::this_thread::sleep_for(300ms);
    test_page late(port_, "/");
    ASSERT_TRUE(late.open());
    EXPECT_FALSE(late.wait_for_frames(1, 300ms));
}

}  // namespace
}  // namespace vandrel
