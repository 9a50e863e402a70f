#include "core_lib/net/transfer/file_service.h"

#include <algorithm>
#include <charconv>
#include <iostream>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/json.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_address.h"
#include "core_lib/net/peers/self_calls.h"
#include "core_lib/net/rest_server.h"
#include "core_lib/net/transfer/transfer_slots.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/peer_addresses.h"
#include "core_lib/store/progress.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/uploads.h"

namespace vandrel {

namespace {

constexpr std::int64_t progress_interval_ms = 2000;
constexpr std::int64_t stall_save_ms = 30000;
// A peer's file goes out in pieces this large: each piece costs a pass through the
// connection's loop and its checks, and a stop still takes effect within one piece.
constexpr std::size_t peer_upload_piece_bytes = 16 * transfer_piece_bytes;

std::uint64_t decimal_or_zero(const std::string& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

// The devices a request speaks for: this device for its own calls, else those proven
// at the request's address.
std::vector<std::string> requesters_of(const http_request& request) {
    if (is_self_call(request)) return {get_userid()};
    return peers_at_address(normalize_peer_address(request.peer_address));
}

// Whether the file is offered, in that upload, to a device the request speaks for.
bool offered_to_requester(const std::string& file_id, const std::string& chat_id, const http_request& request) {
    const std::vector<std::string> devices = requesters_of(request);
    if (devices.empty()) return false;
    return !db_files_offered_to(devices, {Json::object{{"id", file_id}, {"chat_id", chat_id}}}).empty();
}

// The first piece read, as an answer that the pump goes on with; 404 when nothing can
// be read at all, 200 with no body at the end of the file.
http_answer first_piece(std::unique_ptr<platform::mesk_input> input, std::uint64_t offset) {
    if (!input->seek(offset)) return chunked_answer(404);
    const std::int32_t n = input->read(input->buffer.data(), transfer_piece_bytes);
    if (n <= 0) return chunked_answer(200);
    input->bytes_transferred = offset + static_cast<std::uint64_t>(n);
    http_answer answer = chunked_answer(200, std::string(input->buffer.data(), static_cast<std::size_t>(n)));
    answer.close = true;
    answer.rest = std::make_shared<upload_pump>(std::move(input), peer_upload_piece_bytes);
    return answer;
}

// What was sent, held below the file's size: the bytes may still be lost on the way or
// on the receiver's disk, and only its "/completed_downloads" makes the file complete.
std::uint64_t sent_progress(const platform::mesk_input& r) {
    return r.total_bytes == 0 ? 0 : std::min(r.bytes_transferred, r.total_bytes - 1);
}

}  // namespace

http_answer serve_download_request(const http_request& request) {
    std::string err;
    const Json body = Json::parse(request.body, err, limits::json_values_per_request);
    if (!err.empty()) return chunked_answer(404);
    const std::string& file_id = body["file_id"].string_value();
    const std::string& chat_id = body["chat_id"].string_value();
    const std::uint64_t offset = decimal_or_zero(body["offset"].string_value());
    if (file_id.size() > limits::id_bytes || chat_id.size() > limits::id_bytes) return chunked_answer(404);
    // Nothing of a file goes to anyone but the device it was offered to.
    if (!offered_to_requester(file_id, chat_id, request)) return chunked_answer(404);
    const Json file = db_get_file_to_send(file_id);
    // Paused, or stopped until the user resumes it: refused as a paused file is.
    if (file["status"].string_value() == "paused" || file["upload_status"].string_value() == "stopped" ||
        stopped_upload_id().contains(chat_id) || paused_file_id().contains(file_id)) {
        return chunked_answer(403);
    }

    auto input = std::make_unique<winrt_file_input>();
    input->chunked = true;
    if (!input->open(file["fileurl"].string_value())) return chunked_answer(404);
    input->file_id = file_id;
    input->chat_id = chat_id;
    input->device = file["receiver"].string_value();
    input->filepath = file["fileurl"].string_value();
    input->total_bytes = decimal_or_zero(file["filesize"].string_value());
    input->other_files = db_get_upload_progress(chat_id, file_id);
    input->last_pump_ms = now_ms();
    return first_piece(std::move(input), offset);
}

http_answer serve_thumbnail(const http_request& request, const std::string& rest, bool for_peer) {
    const std::vector<std::string> parts = split(rest, "/");
    if (parts.size() < 2) return chunked_answer(404);
    const std::string& kind = parts[0];
    const std::string& id = parts[1];
    std::string path;
    if (kind == "download" && !for_peer) {
        path = db_get_file_to_receive(id)["fileurl"].string_value();
    } else if (kind == "upload") {
        const Json file = db_get_file_to_send(id);
        // A peer sees the pictures of the files offered to it and of no others.
        const std::vector<std::string> requesters = for_peer ? requesters_of(request) : std::vector<std::string>();
        const bool allowed = !for_peer || std::find(requesters.begin(), requesters.end(),
                                                    file["receiver"].string_value()) != requesters.end();
        if (allowed) path = file["fileurl"].string_value();
    }
    if (path.empty()) return chunked_answer(404);
    auto input = std::make_unique<winrt_file_input>();
    input->chunked = true;
    input->no_progress = true;
    input->kind = kind;
    input->file_id = id;
    if (!input->open_thumbnail(path)) return chunked_answer(404);
    return first_piece(std::move(input), 0);
}

body_source::step upload_pump::next_piece(std::string& piece) {
    platform::mesk_input& r = *input_;
    if (r.done) return step::end;
    if (!r.no_progress && (stopped_upload_id().contains(r.chat_id) || paused_file_id().contains(r.file_id))) {
        // Stopped or paused: the connection ends at once; the position reached is kept.
        r.done = true;
        report(true);
        return step::abort;
    }
    const std::int64_t now = now_ms();
    r.last_pump_ms = now;
    if (!r.no_progress && now - r.last_event_ms > progress_interval_ms) {
        const bool stalled = now - r.last_event_ms > stall_save_ms;
        r.last_event_ms = now;
        report(stalled);
    }
    // Read straight into the piece, as few reads as fill it.
    piece.resize(piece_bytes_);
    std::size_t filled = 0;
    while (filled < piece_bytes_) {
        const auto want = static_cast<std::uint32_t>(piece_bytes_ - filled);
        const std::int32_t n = r.read(piece.data() + filled, want);
        if (n <= 0) break;
        filled += static_cast<std::size_t>(n);
    }
    piece.resize(filled);
    r.bytes_transferred += filled;
    if (!piece.empty()) return step::piece;
    r.done = true;
    if (!r.no_progress) report(true);
    return step::end;
}

std::optional<body_source::file_span> upload_pump::rest_as_file() {
    const auto* file = dynamic_cast<const winrt_file_input*>(input_.get());
    if (file == nullptr || !input_->no_progress || input_->done) return std::nullopt;
    file_span span;
    if (!file->rest_of_file(span.descriptor, span.offset, span.bytes)) return std::nullopt;
    return span;
}

void upload_pump::report(bool save) {
    const platform::mesk_input& r = *input_;
    send_to_ui(Json(Json::object{{"action", "update_bytes_transferred"},
                                 {"file_id", r.file_id},
                                 {"chat_id", r.chat_id},
                                 {"bytes_transferred", std::to_string(sent_progress(r))},
                                 {"total_bytes", std::to_string(r.total_bytes)},
                                 {"device", r.device},
                                 {"filepath", r.filepath},
                                 {"other_files", r.other_files}})
                   .dump());
    if (!save) return;
    // The store is not for the network thread: the position is kept from the pool.
    std::string name = "upload position of " + r.file_id;
    std::function<void()> keep = [bytes = sent_progress(r), id = r.file_id] {
        db_set_file_to_send_progress(bytes, id);
    };
    current_net::get().transfer_bookkeeping.push(name, keep);
}

}  // namespace vandrel
