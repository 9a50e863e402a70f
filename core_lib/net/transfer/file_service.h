// The files this device serves: "/download/v1" (a file it offers, to the peer it was
// offered to: the receiver proven at the request's address, under the file's own
// upload) and "/thumbnail/v1/KIND/ID" (the picture of a file offered or received, for
// the interface; a peer gets only the pictures of files offered to it). An answer is
// chunked and pumped one piece at a time (256 KiB for a file, 16384 bytes for a
// thumbnail), the next read only when the previous piece is written; a peer upload
// reports its progress (what was sent, below the file's size until the receiver confirms
// it) to the interface at most every 2 s, keeps its position in the store at the end and
// after stalls, and ends at once when the user stops the upload (also a stop kept in the
// store) or pauses the file.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "core_lib/net/http/http_server.h"
#include "core_lib/net/transfer/input_stream.h"

namespace vandrel {

// The route handlers; they run on a server's workers.
http_answer serve_download_request(const http_request& request);
http_answer serve_thumbnail(const http_request& request, const std::string& rest, bool for_peer);

// The rest of an answer, pulled by the server on its network thread. Each piece is at
// most `piece_bytes`, read straight into it; the next is read only when the server asks,
// after the previous one is written.
class upload_pump : public body_source {
public:
    explicit upload_pump(std::unique_ptr<platform::mesk_input> input, std::size_t piece_bytes = transfer_piece_bytes)
        : input_(std::move(input)), piece_bytes_(piece_bytes) {}
    step next_piece(std::string& piece) override;
    // An answer with no progress and no stop checks (the web share's) may go out as the
    // rest of its file; a peer upload is always pumped.
    std::optional<file_span> rest_as_file() override;
    platform::mesk_input& record() { return *input_; }

private:
    // The progress event of a peer upload, and its position kept in the store.
    void report(bool save);

    std::unique_ptr<platform::mesk_input> input_;
    std::size_t piece_bytes_;
};

}  // namespace vandrel
