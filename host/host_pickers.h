// The pickers of the host: a user answers a pick in advance with a ":pick-..." line;
// the next dialog of that kind takes the waiting answer, and no dialog ever takes an
// answer of another kind. A file or image dialog with no answer waiting is a cancel; a
// folder dialog with none waiting gets the fallback folder (the downloads folder).
// Picked files that the dialog's filters do not match are dropped: a file matches when
// its name ends with a filter, letter case aside; "*" (or no filter) matches any file.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "MeskRuntimeComponent/pickers.h"
#include "host/host_dialog.h"

namespace vandrel::host {

class HostPickers : public PickerService {
public:
    explicit HostPickers(std::string fallback_folder);

    // Queues the answer of the next dialog of that kind. A folder dialog takes the first
    // path; no paths at all is a cancel.
    void answer(dialog kind, std::vector<std::string> paths);

    // The folder-to-send dialog.
    void pick_folder(std::function<void(const std::string& folder)> done) override;
    // The others-folder dialog; unanswered, it takes the fallback folder.
    void pick_others_folder(const std::function<void(const std::string& folder)>& done);
    // The accepted-folder dialog.
    void pick_accepted_folder(const std::function<void(const std::string& folder)>& done);
    // A dialog of a single file is the image dialog (the profile image is the only such
    // pick); any other is the files dialog.
    void pick_files(PickerStart start, std::vector<std::string> filters, bool multiple,
                    std::function<void(const std::vector<std::string>& files)> done) override;

private:
    // The oldest waiting answer of that kind, taken off its queue; false when none waits.
    bool take(dialog kind, std::vector<std::string>& paths);
    void pick_a_folder(dialog kind, const std::function<void(const std::string& folder)>& done);

    std::mutex mutex_;
    std::map<dialog, std::deque<std::vector<std::string>>> answers_;
    const std::string fallback_folder_;
};

}  // namespace vandrel::host
