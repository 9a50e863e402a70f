// The open pages of the web share: every WebSocket connection the web-share server
// hands over. Each page gets each notice once, as one text frame, in order, through a
// write queue of its own (one write in flight); a page that lets its queue fill up is
// dropped. Frames that pages send are read and ignored. A connection lives on the
// server's io_context and ends with it.
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

    // Keeps the page and answers its upgrade; on the connection's network thread.
    void accept(upgraded_connection connection);
    // Queues the text to every page; any thread. A page whose upgrade is still being
    // answered gets it right after.
    void send_to_all(const std::string& text);
    // Pages that asked for the upgrade and are still open.
    std::size_t open_pages() const;

    // The client's own bookkeeping.
    void opened(const std::shared_ptr<notice_client>& client);
    void closed(const notice_client* client);

private:
    struct page {
        const notice_client* client;  // only compared: a client going away names itself
        std::weak_ptr<notice_client> held;
    };
    mutable std::mutex mutex_;
    std::vector<page> pages_;
};

// The text the pages reload their list on: {"action": "files_to_share_changed"}.
std::string files_changed_notice();

}  // namespace vandrel
