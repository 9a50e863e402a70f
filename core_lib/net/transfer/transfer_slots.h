// Stop and pause slots shared by the request handlers and the transfer threads of a
// running core.
// Each slot is a set of ids under its own lock: a pause or an upload's stop stays pending
// until a resume, resend or requeue clears its id; a download's stop is taken by the
// download thread at its next look, whether or not anything of that download runs.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace vandrel {

class transfer_slot {
public:
    // An empty id is never held: it would match a transfer that has no id.
    void add(const std::string& id);
    bool contains(const std::string& id) const;
    // True when the id was held.
    bool remove(const std::string& id);
    void clear();
    std::vector<std::string> ids() const;
    // Every held id, and none held afterwards, in one step.
    std::vector<std::string> take_all();

private:
    mutable std::mutex mutex;
    std::set<std::string> held;
};

struct transfer_slots {
    transfer_slot stopped_download_id;
    transfer_slot stopped_upload_id;
    transfer_slot paused_file_id;
};

// The running core's slots.
// Download (chat) ids the user stopped; "/stop_download" adds, the download thread takes
// them (ending what runs of those downloads then), an offer or a requeue clears its id.
transfer_slot& stopped_download_id();
// Upload (chat) ids stopped or paused as a whole; resume and resend clear.
transfer_slot& stopped_upload_id();
// File ids of files to send paused one by one; resume and resend clear.
transfer_slot& paused_file_id();

}  // namespace vandrel
