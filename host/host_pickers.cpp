#include "host/host_pickers.h"

namespace vandrel::host {

HostPickers::HostPickers(std::string fallback_folder) : fallback_folder_(std::move(fallback_folder)) {}

void HostPickers::answer_folder(std::string folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    folders_.push_back(std::move(folder));
}

void HostPickers::answer_files(std::vector<std::string> files) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_.push_back(std::move(files));
}

void HostPickers::pick_folder(std::function<void(const std::string& folder)> done) {
    std::string folder = fallback_folder_;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!folders_.empty()) {
            folder = std::move(folders_.front());
            folders_.pop_front();
        }
    }
    done(folder);
}

void HostPickers::pick_files(PickerStart, std::vector<std::string>, bool multiple,
                             std::function<void(const std::vector<std::string>& files)> done) {
    std::vector<std::string> files;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!files_.empty()) {
            files = std::move(files_.front());
            files_.pop_front();
        }
    }
    if (!multiple && files.size() > 1) files.resize(1);
    done(files);
}

}  // namespace vandrel::host
