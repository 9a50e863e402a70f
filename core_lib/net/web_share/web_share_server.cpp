#include "core_lib/net/web_share/web_share_server.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>
#include <optional>
#include <string_view>

#include "core_lib/foundation/mime_types.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/servers.h"
#include "core_lib/net/transfer/file_service.h"
#include "core_lib/net/transfer/input_stream.h"
#include "core_lib/net/web_share/web_share_api.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/shared_pending.h"
#include "core_lib/store/store_state.h"

namespace vandrel {

namespace {

const std::string api_prefix = "/http_mode_api/v1";
const std::string file_prefix = "/file/v1";
const std::string app_package_folder = "ms-appx:///http_mode/bin";
const std::string code_header = "x_mesk_web_mode_code";
// A browser's download moves in pieces of this much: fewer turns of the network thread
// per byte than the peers' 16384, still one piece in flight per connection.
constexpr std::size_t web_piece_bytes = 8 * transfer_piece_bytes;

// Every answer of this server carries it, the server's own errors included.
http_fields web_common_fields() { return {{"Access-Control-Allow-Origin", "*"}}; }

http_answer status_only(unsigned status, http_fields fields = {}) {
    http_answer answer;
    answer.status = status;
    answer.fields = std::move(fields);
    return answer;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX decoded; nothing when an escape is broken.
std::optional<std::string> percent_decoded(const std::string& text, bool plus_is_space) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = hex_value(text[i + 1]);
            const int low = hex_value(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (c == '+' && plus_is_space) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The value of one query parameter of the target, decoded; "" when absent.
std::string query_parameter(const std::string& target, const std::string& name) {
    const std::size_t query = target.find('?');
    if (query == std::string::npos) return "";
    for (const std::string& pair : split(target.substr(query + 1), "&")) {
        const std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) != name || equals == std::string::npos) continue;
        return percent_decoded(pair.substr(equals + 1), true).value_or("");
    }
    return "";
}

std::optional<std::uint64_t> decimal(const std::string& text) {
    std::uint64_t value = 0;
    if (text.empty()) return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

// The name as a quoted ASCII string: quotes and backslashes escaped, control bytes left
// out, each character beyond ASCII an "_".
std::string quoted_ascii(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_control(byte) || (byte & 0xc0) == 0x80) continue;  // a UTF-8 continuation byte
        if (byte >= 0x80) {
            out.push_back('_');
            continue;
        }
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

// The name's UTF-8 bytes percent-encoded where they are not plain token characters,
// control bytes left out.
std::string percent_encoded(const std::string& name) {
    static constexpr std::string_view kept = "!#$&+-.^_`|~";
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_control(byte)) continue;
        if (std::isalnum(byte) != 0 && byte < 0x80) {
            out.push_back(c);
        } else if (kept.find(c) != std::string_view::npos) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0f]);
        }
    }
    return out;
}

// Saves as the name: a plain ASCII filename for every browser, and beside it the UTF-8
// name when it holds more than ASCII.
std::string attachment_disposition(const std::string& name) {
    std::string disposition = "attachment; filename=" + quoted_ascii(name);
    const bool beyond_ascii =
        std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (beyond_ascii) disposition += "; filename*=UTF-8''" + percent_encoded(name);
    return disposition;
}

// A code check; nothing when the code is right, else the refusal.
std::optional<http_answer> refused(web_code_guard& guard, const std::string& address, const std::string& given) {
    std::chrono::seconds retry_after{0};
    switch (guard.check(address, given, get_webshare_password(), &retry_after)) {
        case web_code_guard::verdict::right:
            return std::nullopt;
        case web_code_guard::verdict::locked:
            return status_only(429, {{"Retry-After", std::to_string(retry_after.count())}});
        case web_code_guard::verdict::missing:
        case web_code_guard::verdict::wrong:
            break;
    }
    return status_only(401);
}

http_answer route_api(const http_request& request, web_code_guard& guard) {
    const std::string api_path = request.path.substr(api_prefix.size());
    if (starts_with(api_path, "/protected") || starts_with(api_path, "/files")) {
        if (auto refusal = refused(guard, request.peer_address, request.header(code_header))) return *refusal;
    }
    http_answer answer;
    answer.fields = {{"Access-Control-Allow-Headers", "*"}};
    answer.body = web_api_dispatch(api_path, request.body, request.peer_address, request.headers);
    return answer;
}

// The first piece of a file answer; the pump moves the rest as the connection drains.
http_answer first_piece(std::unique_ptr<winrt_file_input> input, std::uint64_t offset, http_answer answer) {
    if (!input->seek(offset)) return status_only(404);
    const std::int32_t n = input->read(input->buffer.data(), transfer_piece_bytes);
    if (n <= 0) return status_only(200);
    input->bytes_transferred = offset + static_cast<std::uint64_t>(n);
    answer.body.assign(input->buffer.data(), static_cast<std::size_t>(n));
    answer.rest = std::make_shared<upload_pump>(std::move(input), web_piece_bytes);
    answer.close = true;
    return answer;
}

}  // namespace

web_share_setup web_share_setup_for(const net_config& config) {
    web_share_setup setup;
    setup.host = config.bind_address;
    setup.port = config.web_port;
    setup.limits = peer_server_limits();
    return setup;
}

byte_range parse_byte_range(const std::string& header, std::uint64_t size) {
    const byte_range whole{byte_range::kind::satisfiable, 0, size == 0 ? 0 : size - 1};
    const byte_range unsatisfiable{byte_range::kind::unsatisfiable, 0, 0};
    const std::string text = trim(header);
    const std::string unit = "bytes=";
    if (to_lower(text.substr(0, unit.size())) != unit) return whole;
    const std::string spec = trim(text.substr(unit.size(), text.find(',') - unit.size()));
    const std::size_t dash = spec.find('-');
    if (dash == std::string::npos) return whole;
    const std::string first_text = trim(spec.substr(0, dash));
    const std::string last_text = trim(spec.substr(dash + 1));
    if (first_text.empty()) {
        // The last N bytes.
        const auto count = decimal(last_text);
        if (!count) return whole;
        if (*count == 0 || size == 0) return unsatisfiable;
        return {byte_range::kind::satisfiable, *count >= size ? 0 : size - *count, size - 1};
    }
    const auto first = decimal(first_text);
    if (!first) return whole;
    std::optional<std::uint64_t> last;
    if (!last_text.empty()) {
        last = decimal(last_text);
        if (!last || *last < *first) return whole;
    }
    if (*first >= size) return unsatisfiable;
    return {byte_range::kind::satisfiable, *first, last && *last < size ? *last : size - 1};
}

std::string web_app_path(const std::string& path) {
    const auto decoded = percent_decoded(path == "/" ? std::string("/index.html") : path, false);
    if (!decoded || decoded->empty() || decoded->front() != '/') return "";
    for (const char c : *decoded) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\') return "";
    }
    const std::vector<std::string> parts = split(decoded->substr(1), "/");
    for (const std::string& part : parts) {
        if (part.empty() || part == "." || part == "..") return "";
    }
    return *decoded;
}

http_answer serve_web_app_file(const std::string& path) {
    const std::string inside = web_app_path(path);
    if (inside.empty()) return status_only(404);
    const std::string package_path = app_package_folder + inside;
    auto input = std::make_unique<winrt_file_input>();
    input->chunked = true;
    input->no_progress = true;
    input->filepath = package_path;
    if (!input->open(package_path)) return status_only(404);
    http_answer answer;
    answer.fields = {{"Content-Type", mime_type_for(package_path)}};
    answer = first_piece(std::move(input), 0, std::move(answer));
    // The page is never empty: an empty file is as good as none.
    if (answer.status == 200 && !answer.rest) return status_only(404);
    return answer;
}

http_answer serve_shared_file(const http_request& request, const std::string& file_id) {
    const Json file = db_get_shared_file(file_id);
    const std::string& path = file["fileurl"].string_value();
    if (path.empty()) return status_only(404);
    auto input = std::make_unique<winrt_file_input>();
    input->no_progress = true;
    input->file_id = file_id;
    input->filepath = path;
    if (!input->open(path)) return status_only(404);
    struct stat info {};
    if (::stat(input->local_path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return status_only(404);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    input->total_bytes = size;
    const std::string disposition = attachment_disposition(file["filename"].string_value());

    const std::string range_header = request.header("range");
    http_answer answer;
    if (range_header.empty()) {
        input->chunked = true;
        answer.fields = {{"Content-Transfer-Encoding", "binary"},
                         {"Content-Type", "application/octet-stream"},
                         {"Content-Disposition", disposition}};
        return first_piece(std::move(input), 0, std::move(answer));
    }
    const byte_range range = parse_byte_range(range_header, size);
    const std::string total = std::to_string(size);
    if (range.result == byte_range::kind::unsatisfiable) {
        return status_only(416, {{"Content-Range", "bytes */" + total}});
    }
    if (size == 0) return status_only(200);
    const std::string content_range =
        "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + total;
    answer.status = 206;
    answer.chunked = false;
    answer.content_length = range.last - range.first + 1;
    if (range.first == 0) {
        answer.fields = {{"Accept-Ranges", "bytes"},
                         {"Content-Type", "application/octet-stream"},
                         {"Content-Disposition", disposition},
                         {"Content-Range", content_range}};
    } else {
        answer.fields = {
            {"Content-Type", "application/octet-stream"}, {"Accept-Ranges", "bytes"}, {"Content-Range", content_range}};
    }
    return first_piece(std::move(input), range.first, std::move(answer));
}

http_answer route_web_request(const http_request& request, web_code_guard& guard) {
    const std::string& path = request.path;
    if (starts_with(path, api_prefix)) return route_api(request, guard);
    if (starts_with(path, file_prefix)) {
        std::string given = request.header(code_header);
        // Links, downloads and media elements cannot send a header.
        if (given.empty()) given = query_parameter(request.target, "code");
        if (auto refusal = refused(guard, request.peer_address, given)) return *refusal;
        return serve_shared_file(request, path.size() > file_prefix.size() ? path.substr(file_prefix.size() + 1) : "");
    }
    return serve_web_app_file(path);
}

web_share_server::web_share_server(std::unique_ptr<io_manager> manager, std::uint16_t port,
                                   std::shared_ptr<web_share_notices> pages)
    : manager_(std::move(manager)), port_(port), pages_(std::move(pages)) {}

web_share_server::~web_share_server() {
    // The listener, every request and every page end with the manager.
    manager_.reset();
}

std::unique_ptr<web_share_server> run_web_mode_server(const web_share_setup& setup, std::string& error) {
    auto manager = std::make_unique<io_manager>("web share server", std::chrono::milliseconds(50), server_io_threads(),
                                                "mesk-web-io");
    auto pages = std::make_shared<web_share_notices>();
    auto guard = std::make_shared<web_code_guard>();
    http_server_config config;
    config.host = setup.host;
    config.port = setup.port;
    config.limits = setup.limits;
    config.common_fields = web_common_fields();
    config.handler = [guard](const http_request& request) { return route_web_request(request, *guard); };
    config.upgrade = [pages](upgraded_connection connection) { pages->accept(std::move(connection)); };
    config.worker_thread_name = "mesk-web-wk";
    const std::uint16_t port = start_http_server(*manager, std::move(config), error);
    if (port == 0) return nullptr;
    manager->add_poll_check([pages] {
        // Without a store there are no shared files to change.
        if (current_store::find() == nullptr || !take_shared_files_changed()) return;
        std::cerr << "web share: shared files changed, telling " << pages->open_pages() << " open pages\n";
        pages->send_to_all(files_changed_notice());
    });
    return std::make_unique<web_share_server>(std::move(manager), port, std::move(pages));
}

}  // namespace vandrel
