// The writer of a file this device receives and, in the same object, the record of the
// running download. mesk_output is the abstract writer; winrt_file_output writes into
// the folder the platform chooses for the file's kind (pictures, music, videos,
// others), under the temporary name while the file arrives, appending to what an earlier
// attempt left, and renames it into place once it is whole and on disk. No operation
// throws: failures are false (or a short count) with `error` set where the words are the
// writer's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

class mesk_output {
public:
    virtual ~mesk_output() = default;
    // Moves the finished file standing under the final name aside, to `new_name`.
    virtual bool rename_to(const std::string& new_name) = 0;
    // Opens (or makes) the file of that name in the folder for its kind, for appending.
    virtual bool create(const std::string& name) = 0;
    // The count written; a short count leaves the platform's words in `error` (a full
    // disk: "No space left on device").
    virtual std::uint32_t write(const char* bytes, std::uint32_t length) = 0;
    // Puts the whole file on disk, renames it to its final name and tells the interface
    // "download_completed"; true and nothing else when nothing was opened.
    virtual bool finish() = 0;
    // Deletes the file that was opened.
    virtual bool discard() = 0;
    virtual void flush() = 0;

    // The running download's record.
    std::string peer_address;
    std::string file_id;
    std::string filepath;  // the name as the sender gave it
    bool done = false;
    std::string device;
    std::string error;
    std::string chat_id;
    std::uint64_t bytes_transferred = 0;
    std::uint64_t total_bytes = 0;
    std::int64_t last_progress_ms = 0;
    std::int64_t last_flush_ms = 0;
    std::int64_t last_data_ms = 0;
    Json other_files;
};

inline const std::string no_download_folder_error = "You have not selected a download folder. Restart the app.";

class winrt_file_output : public mesk_output {
public:
    winrt_file_output() = default;
    ~winrt_file_output() override;
    winrt_file_output(const winrt_file_output&) = delete;
    winrt_file_output& operator=(const winrt_file_output&) = delete;

    bool rename_to(const std::string& new_name) override;
    bool create(const std::string& name) override;
    std::uint32_t write(const char* bytes, std::uint32_t length) override;
    bool finish() override;
    bool discard() override;
    void flush() override;

    // Bytes the opened file holds (where a resumed transfer goes on); none when nothing
    // is open or the size cannot be read.
    std::optional<std::uint64_t> size() const;
    // The opened file names the file it was begun for (an extended attribute, where the
    // file system keeps them); true when it names another one, so what it holds belongs
    // to another transfer of the same name.
    bool begun_for_other(const std::string& owner) const;
    // Names `owner` as the file the opened file holds bytes of.
    void mark_begun_for(const std::string& owner) const;

private:
    void close_file();

    std::string open_path_;  // the file being written, "" before create
    int fd_ = -1;
};

// The folder on disk that receives a file of that name (ends in "/"), or "" when the
// platform has none for its kind.
std::string received_file_folder(const std::string& name);

}  // namespace vandrel
