// The pickers of the host: a user answers a pick in advance with a ":pick-..." line;
// the next dialog of that kind takes the waiting answer. A file or image dialog with
// no answer waiting is a cancel; a folder dialog with none waiting gets the fallback
// folder (the downloads folder).
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "MeskRuntimeComponent/pickers.h"

namespace vandrel::host {

class HostPickers : public PickerService {
public:
    explicit HostPickers(std::string fallback_folder);

    void answer_folder(std::string folder);
    void answer_files(std::vector<std::string> files);

    void pick_folder(std::function<void(const std::string& folder)> done) override;
    void pick_files(PickerStart start, std::vector<std::string> filters, bool multiple,
                    std::function<void(const std::vector<std::string>& files)> done) override;

private:
    std::mutex mutex_;
    std::deque<std::string> folders_;
    std::deque<std::vector<std::string>> files_;
    const std::string fallback_folder_;
};

}  // namespace vandrel::host
