// A recording platform whose storage paths are real files of a test folder, for the
// suites that move files: "TOKEN|RELID|NAME" names ROOT/TOKEN/RELID/NAME, and a received
// file of any kind goes to ROOT/received/ (its download target is "received|FOLDERS|NAME")
// unless the test takes the download folder away. Thumbnails are a file the test names;
// package files ("ms-appx:///PATH") are ROOT/package/PATH.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "tests/support/recording_platform.h"

namespace vandrel::testing {

class file_platform : public recording_platform {
public:
    explicit file_platform(std::string root);

    // ROOT/TOKEN/ (made when missing); ends in "/".
    std::string folder(const std::string& token) const;
    // Where received files go: folder("received").
    std::string received_folder() const { return folder("received"); }
    // Writes a file under ROOT/TOKEN/ and returns its storage path "TOKEN||NAME".
    std::string add_file(const std::string& token, const std::string& name, const std::string& bytes) const;

    // With none, download targets are "" (the user chose no folder).
    void set_download_folder(bool present);
    // thumbnail_for_file answers this path for every existing file; "" for none.
    void set_thumbnail(std::string path);

    std::string download_target_for_file(const std::string& file_name) override;
    std::uint64_t get_file_size(const std::string& storage_path) override;
    std::string find_file_in_folder(const std::string& storage_path) override;
    std::string resolve_storage_path(const std::string& storage_path) override;
    std::string thumbnail_for_file(const std::string& file_path) override;
    std::string get_package_file(const std::string& uri) override;

private:
    std::string root_;
    mutable std::mutex files_mutex_;
    bool download_folder_ = true;
    std::string thumbnail_;
};

// Replaces the bound core's platform services with a file_platform on `root` (the data
// and local folders carried over from the services it replaces).
std::shared_ptr<file_platform> install_file_platform(const std::string& root);

}  // namespace vandrel::testing
