// handle_api_request as peers reach it, on a running core: an endpoint and a JSON body
// from a peer's address. An input is [origin][endpoint][body]: the first byte picks the
// origin (the proven peer, a stranger on the same network, IPv6 loopback, an address
// beyond the machine, a link-local IPv6 one), the second the endpoint (the ones served
// to peers first, then the others, then 0xff: the text up to the first newline), the
// rest is the body. The mutator knows this shape: besides libFuzzer's own byte
// mutations, it edits bodies that parse as JSON as JSON, with the keys and values the
// handlers read, so most inputs reach a handler with a body it takes apart.
// Every answer is a JSON object with a "status"; an endpoint a peer may not call is
// refused as "forbidden" and an unknown one as "unknown_endpoint"; a handler never
// fails on a peer's input ("internal_error").
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core_lib/api/api_dispatcher.h"
#include "core_lib/foundation/json.h"
#include "core_lib/foundation/text_utils.h"
#include "fuzz/support/fuzz_check.h"
#include "fuzz/support/fuzz_core.h"

// libFuzzer's byte mutations; the mutator runs only under libFuzzer, which has them.
extern "C" __attribute__((weak)) std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size,
                                                              std::size_t max_size);

namespace {

using vandrel::Json;
using vandrel::fuzzing::fuzz_core;
using vandrel::fuzzing::property_broken;

constexpr std::uint8_t raw_endpoint = 0xff;

// The endpoint table with the ones peers may call first.
const std::vector<vandrel::api_endpoint>& endpoints() {
    static const std::vector<vandrel::api_endpoint> ordered = [] {
        std::vector<vandrel::api_endpoint> list;
        for (const auto& entry : vandrel::api_endpoint_table())
            if (entry.served_to_peers) list.push_back(entry);
        for (const auto& entry : vandrel::api_endpoint_table())
            if (!entry.served_to_peers) list.push_back(entry);
        return list;
    }();
    return ordered;
}

std::string origin_of(std::uint8_t pick, const fuzz_core& core) {
    switch (pick % 5) {
        case 0:
            return core.peer_address();
        case 1:
            return core.stranger_address(pick);
        case 2:
            return "::1";
        case 3:
            return "192.0.2.9";
        default:
            return "fe80::9";
    }
}

// The keys the handlers read, and values that mean something to them.
const std::vector<std::string> keys = {
    "id",          "sender",      "receiver",     "type",
    "data",        "files",       "filename",     "filesize",
    "fileurl",     "isDirectory", "chat_id",      "file_id",
    "offset",      "device_id",   "alias",        "sys_info",
    "title",       "description", "device_alias", "text",
    "remote_id",   "status",      "peer",         "account",
    "download_id", "start",       "size",         "path",
    "avatar",      "os",          "app_version",  "bytes_transferred",
};

std::vector<std::string> text_values() {
    return {"",
            vandrel::fuzzing::peer_id,
            vandrel::fuzzing::own_id,
            vandrel::fuzzing::offered_file_id,
            vandrel::fuzzing::offered_upload_id,
            vandrel::fuzzing::received_file_id,
            vandrel::fuzzing::received_download_id,
            "text",
            "upload",
            "download",
            "0",
            "1",
            "18446744073709551616",
            "-1",
            "127.0.0.1",
            "::ffff:127.0.0.1",
            "a|b|c",
            "../../x",
            "picture.png",
            ".",
            "..",
            "a\nb",
            std::string(129, 'i'),
            std::string(257, 'a'),
            std::string(4097, 'n')};
}

Json random_value(std::mt19937& rng, int depth);

Json random_leaf(std::mt19937& rng) {
    static const std::vector<std::string> texts = text_values();
    switch (rng() % 6) {
        case 0:
            return nullptr;
        case 1:
            return rng() % 2 == 0;
        case 2: {
            static const std::vector<double> numbers = {0, 1, -1, 2147483648.0, 9.3e18, 1.5, 1e308, -0.0};
            return numbers[rng() % numbers.size()];
        }
        default:
            return texts[rng() % texts.size()];
    }
}

Json random_object(std::mt19937& rng, int depth) {
    Json::object members;
    const unsigned count = 1 + rng() % 4;
    for (unsigned i = 0; i < count; ++i) members[keys[rng() % keys.size()]] = random_value(rng, depth + 1);
    return members;
}

Json random_value(std::mt19937& rng, int depth) {
    if (depth >= 3) return random_leaf(rng);
    switch (rng() % 5) {
        case 0:
            return random_object(rng, depth);
        case 1: {
            Json::array items;
            const unsigned count = rng() % 3;
            for (unsigned i = 0; i < count; ++i) items.push_back(random_value(rng, depth + 1));
            return items;
        }
        default:
            return random_leaf(rng);
    }
}

// One edit somewhere in the tree: here, or in one of the children.
Json edited(const Json& node, std::mt19937& rng, int depth) {
    const bool container = node.is_object() || node.is_array();
    const std::size_t children = node.is_object() ? node.object_items().size() : node.array_items().size();
    if (container && children > 0 && depth < 8 && rng() % 3 != 0) {
        const std::size_t pick = rng() % children;
        if (node.is_array()) {
            Json::array items = node.array_items();
            items[pick] = edited(items[pick], rng, depth + 1);
            return items;
        }
        Json::object members = node.object_items();
        auto it = std::next(members.begin(), static_cast<std::ptrdiff_t>(pick));
        it->second = edited(it->second, rng, depth + 1);
        return members;
    }
    if (node.is_object()) {
        Json::object members = node.object_items();
        switch (rng() % 3) {
            case 0:
                if (!members.empty()) {
                    members.erase(std::next(members.begin(), static_cast<std::ptrdiff_t>(rng() % members.size())));
                    return members;
                }
                [[fallthrough]];
            default:
                members[keys[rng() % keys.size()]] = random_value(rng, depth);
                return members;
        }
    }
    if (node.is_array()) {
        Json::array items = node.array_items();
        if (!items.empty() && rng() % 2 == 0) {
            items.push_back(items[rng() % items.size()]);
        } else {
            items.push_back(random_value(rng, depth));
        }
        return items;
    }
    return random_value(rng, depth);
}

// Where the body starts: after the two header bytes, and after the endpoint's line when
// the endpoint is given as text.
std::size_t body_start(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return size;
    if (data[1] != raw_endpoint) return 2;
    for (std::size_t i = 2; i < size; ++i)
        if (data[i] == '\n') return i + 1;
    return size;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t max_size,
                                               unsigned int seed) {
    std::mt19937 rng(seed);
    if (size < 2 || rng() % 4 == 0) return LLVMFuzzerMutate(data, size, max_size);
    if (rng() % 8 == 0) {
        data[rng() % 2] = static_cast<std::uint8_t>(rng());
        return size;
    }
    const std::size_t start = body_start(data, size);
    std::string err;
    const Json body = Json::parse(std::string(reinterpret_cast<const char*>(data + start), size - start), err);
    if (!err.empty()) return LLVMFuzzerMutate(data, size, max_size);
    const std::string text = edited(body, rng, 0).dump();
    if (start + text.size() > max_size) return LLVMFuzzerMutate(data, size, max_size);
    std::copy(text.begin(), text.end(), data + start);
    return start + text.size();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    fuzz_core& core = fuzz_core::get();
    const std::string origin = origin_of(data[0], core);
    const std::size_t start = body_start(data, size);
    std::string endpoint;
    bool served_to_peers = false;
    bool known = true;
    if (data[1] == raw_endpoint) {
        const bool has_line = start > 2 && data[start - 1] == '\n';
        endpoint.assign(reinterpret_cast<const char*>(data + 2), start - 2 - (has_line ? 1 : 0));
        known = false;
        for (const auto& entry : endpoints()) {
            if (endpoint == entry.name) {
                known = true;
                served_to_peers = entry.served_to_peers;
            }
        }
    } else {
        const auto& entry = endpoints()[data[1] % endpoints().size()];
        endpoint = entry.name;
        served_to_peers = entry.served_to_peers;
    }
    const std::string body(reinterpret_cast<const char*>(data + start), size - start);

    const std::string reply_text = vandrel::handle_api_request(endpoint, body, origin);
    // A reply echoes a peer's bytes as they came (an unknown endpoint's name), so bytes
    // that are not UTF-8 are read as "?" here.
    std::string readable;
    for (std::size_t i = 0; i < reply_text.size();) {
        const std::size_t length = vandrel::utf8_char_at(reply_text, i);
        readable.append(length == 0 ? std::string("?") : reply_text.substr(i, length));
        i += length == 0 ? 1 : length;
    }
    std::string err;
    const Json reply = Json::parse(readable, err);
    const std::string& status = reply["status"].string_value();
    const std::string& code = reply["error_code"].string_value();
    if (!err.empty() || !reply.is_object() || (status != "success" && status != "error")) {
        property_broken(endpoint + " answered what is no reply: " + reply_text);
    }
    if (!known && code != "unknown_endpoint") property_broken(endpoint + " is unknown but answered " + reply_text);
    if (known && !served_to_peers && code != "forbidden") {
        property_broken(endpoint + " is not for peers but answered " + reply_text);
    }
    if (code == "internal_error") property_broken(endpoint + " failed on a peer's body: " + body);
    core.settle();
    return 0;
}
