// How much a peer (or any other host on the network) may make this device keep, in
// one place. A text over its limit is refused before anything keeps it; the servers
// cut off what is bigger, slower or more numerous than these.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vandrel::limits {

// Texts in requests from peers, in bytes.
inline constexpr std::size_t id_bytes = 128;         // device, chat and file ids
inline constexpr std::size_t alias_bytes = 256;      // an alias or a device model
inline constexpr std::size_t file_name_bytes = 255;  // a file name as offered
inline constexpr std::size_t file_url_bytes = 4096;  // where the sender keeps a file
inline constexpr std::size_t size_text_bytes = 20;   // a byte count as text
inline constexpr std::size_t text_chat_bytes = std::size_t{64} * 1024;
inline constexpr std::size_t notification_text_bytes = std::size_t{4} * 1024;
// Files in one offer or one completion notice.
inline constexpr std::size_t files_per_request = 1000;
// Values (objects, arrays, texts, numbers) in one parsed peer request: an offer of the
// most files holds about 6,000.
inline constexpr std::size_t json_values_per_request = 20000;

// A peer's avatar, as stored and as fetched.
inline constexpr std::size_t avatar_bytes = std::size_t{1024} * 1024;

// Bodies of requests to the servers that peers reach.
inline constexpr std::uint64_t peer_body_bytes = std::uint64_t{1024} * 1024;
// All bodies that the connections of one server buffer together.
inline constexpr std::uint64_t buffered_body_bytes = std::uint64_t{32} * 1024 * 1024;
// Of those, what one address (an IPv6 /64) may hold, and what hosts that have not proven
// a key may hold together.
inline constexpr std::uint64_t buffered_body_bytes_per_address = buffered_body_bytes / 8;
inline constexpr std::uint64_t unproven_body_bytes = buffered_body_bytes / 2;
// A body slower than this after its first body_grace is cut off.
inline constexpr std::uint64_t min_body_bytes_per_second = std::uint64_t{16} * 1024;
inline constexpr std::chrono::milliseconds body_grace{5000};
inline constexpr std::uint32_t header_bytes = 16 * 1024;
inline constexpr std::chrono::milliseconds handshake_time{5000};
inline constexpr std::chrono::milliseconds header_time{10000};

// Connections: per server, per peer address, and the descriptors always kept free for
// files, the store and calls to peers. A server takes at most half of what the
// process may open beyond that reserve.
inline constexpr std::size_t connections_per_server = 512;
inline constexpr std::size_t connections_per_address = 16;
inline constexpr std::size_t reserved_descriptors = 256;
// Hosts that have not proven a key hold at most this share (1/N) of a server's connections.
inline constexpr std::size_t unproven_connection_share = 2;

// Request handlers: the workers of a server, and how many of them one address may
// hold at once.
inline constexpr unsigned request_workers = 8;
inline constexpr unsigned requests_running_per_address = 2;
// Of the workers, those unproven hosts may hold together; requests waiting for a worker,
// per address, from proven peers together and from the others together.
inline constexpr unsigned requests_running_unproven = request_workers / 2;
inline constexpr std::size_t requests_queued_per_address = connections_per_address;
inline constexpr std::size_t requests_queued_proven = 256;
inline constexpr std::size_t requests_queued_unproven = 64;

// Tables kept per peer: the directory, pending proofs, fetched avatars, warnings.
inline constexpr std::size_t known_peers = 256;
inline constexpr std::size_t pending_proofs = 64;
// How long a proof (a ping to the claimed address) may take, how long a request waits
// for one (the proof goes on after), and the proofs under way for one address or /64.
inline constexpr std::chrono::milliseconds proof_time{5000};
inline constexpr std::chrono::milliseconds proof_wait{3000};
inline constexpr std::size_t proofs_per_address = 4;

}  // namespace vandrel::limits
