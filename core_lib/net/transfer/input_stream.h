// The reader of every file the servers send (a file to a peer, a thumbnail, a web-share
// file, a page of the web-share application) and, in the same object, the record of the
// transfer it feeds. mesk_input is the abstract reader; winrt_file_input reads through
// the platform's storage: a file named by its storage path, a file of the application
// package ("ms-appx:///..."), or the platform's thumbnail of a file. No operation
// throws: failures are false, and a read that fails gives 0.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

inline constexpr std::size_t transfer_piece_bytes = 16384;

namespace platform {

class mesk_input {
public:
    virtual ~mesk_input() = default;
    virtual bool open(const std::string& path) = 0;
    virtual bool open_thumbnail(const std::string& path) = 0;
    virtual bool seek(std::uint64_t offset) = 0;
    // Bytes read into `buffer` (at most `count`); 0 at the end and on a failure.
    virtual std::int32_t read(char* buffer, std::uint32_t count) = 0;

    // The served-transfer record.
    std::string file_id;
    std::string chat_id;
    std::string kind;  // "upload" or "download" for a thumbnail
    std::uint64_t bytes_transferred = 0;
    bool done = false;
    std::int64_t last_pump_ms = 0;
    std::int64_t last_event_ms = 0;
    std::uint64_t total_bytes = 0;
    std::uint64_t polls_since_send = 0;
    std::int64_t unsent_bytes = 0;
    bool no_progress = false;  // no progress events, no stored progress, no stop checks
    std::string device;
    std::string filepath;
    Json other_files;
    bool chunked = false;
    std::array<char, transfer_piece_bytes> buffer{};
};

}  // namespace platform

class winrt_file_input : public platform::mesk_input {
public:
    winrt_file_input() = default;
    ~winrt_file_input() override;
    winrt_file_input(const winrt_file_input&) = delete;
    winrt_file_input& operator=(const winrt_file_input&) = delete;

    bool open(const std::string& path) override;
    bool open_thumbnail(const std::string& path) override;
    bool seek(std::uint64_t offset) override;
    std::int32_t read(char* buffer, std::uint32_t count) override;

    // The file on disk being read, "" before a successful open.
    const std::string& local_path() const { return local_path_; }
    // The open regular file, where the next read starts and the bytes from there to
    // its end; false when nothing is open.
    bool rest_of_file(int& descriptor, std::uint64_t& position, std::uint64_t& bytes) const;

private:
    void close();

    std::string local_path_;
    int fd_ = -1;
};

// True for a path of the application package: one that begins with "ms-appx:///".
bool is_package_path(const std::string& path);

}  // namespace vandrel
