// The open pages of the web share: every WebSocket connection the web-share server
// hands over. Each page gets each notice once, as one text frame, in order, through a
// write queue of its own (one write in flight); a page that lets its queue fill up is
// dropped. Open pages are capped in all and per address group (limits::web_pages,
// web_pages_per_address): an upgrade over a cap is answered 503 and closed. Frames that
// pages send are read and ignored; a page that sends more than a small rate of them
// (limits::page_frame_burst, page_frames_per_second) is closed, and what any page sends
// is read at a bounded rate (limits::page_read_bytes_per_second). A connection lives on
// the server's io_context and ends with it.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core_lib/net/http/http_server.h"

namespace vandrel {

class notice_client;

class web_share_notices : public std::enable_shared_from_this<web_share_notices> {
public:
    // Notices a page may have waiting before it counts as gone.
    static constexpr std::size_t queued_per_page = 64;

    // Keeps the page and answers its upgrade, or refuses it over a cap; on the
    // connection's network thread.
    void accept(upgraded_connection connection);
    // Queues the text to every page; any thread. A page whose upgrade is still being
    // answered gets it right after.
    void send_to_all(const std::string& text);
    // Pages that asked for the upgrade and are still open.
    std::size_t open_pages() const;

    // The client's own bookkeeping.
    void closed(const notice_client* client);

private:
    struct page {
        const notice_client* client;  // only compared: a client going away names itself
        std::weak_ptr<notice_client> held;
        std::string group;  // address_group of its address
    };
    // Counts the page in unless a cap is full; false when one is.
    bool admit(const std::shared_ptr<notice_client>& client, const std::string& group);
    mutable std::mutex mutex_;
    std::vector<page> pages_;
};

// The text the pages reload their list on: {"action": "files_to_share_changed"}.
std::string files_changed_notice();

}  // namespace vandrel
