// The writer of a file this device receives and, in the same object, the record of the
// running download. mesk_output is the abstract writer; winrt_file_output writes into
// the folder the platform chooses for the file's kind (pictures, music, videos,
// others): while the file arrives, into the partial folder there under a name made
// from its file id only (so no received name can be it, and only this file id ever goes
// on with what it holds), appending to what an earlier attempt left; once it is whole
// and on disk, into its relative folders under its safe name, or under the first free
// backup name when a file is in the way or another completed download points there.
// No operation throws: failures are false (or a short count) with `error` set where the
// words are the writer's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

class mesk_output {
public:
    virtual ~mesk_output() = default;
    // Opens (or makes) the partial file of `file_id`, for appending.
    virtual bool create() = 0;
    // The count written; a short count leaves the platform's words in `error` (a full
    // disk: "No space left on device").
    virtual std::uint32_t write(const char* bytes, std::uint32_t length) = 0;
    // Puts the whole file on disk, moves it to a free final name, records that name in
    // the store and tells the interface "download_completed"; true and nothing else when
    // nothing was opened.
    virtual bool finish() = 0;
    // Deletes the file that was opened.
    virtual bool discard() = 0;
    virtual void flush() = 0;

    // The running download's record.
    std::string peer_address;
    std::string file_id;
    std::string filepath;  // the relative name as stored (made safe when it was offered)
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

    bool create() override;
    std::uint32_t write(const char* bytes, std::uint32_t length) override;
    bool finish() override;
    bool discard() override;
    void flush() override;

    // Bytes the opened file holds (where a resumed transfer goes on); none when nothing
    // is open or the size cannot be read.
    std::optional<std::uint64_t> size() const;

private:
    void close_file();
    // Moves the partial file to the first free final name; false when none was free.
    bool place();

    std::string open_path_;  // the file being written, "" before create
    int fd_ = -1;
};

// The folder on disk that receives a file of that name (ends in "/"), or "" when the
// platform has none for its kind; its relative folders are not part of it.
std::string received_file_folder(const std::string& name);
// Where the file of that id and name is kept while it arrives, or "" as above.
std::string partial_file_path(const std::string& name, const std::string& file_id);

}  // namespace vandrel
