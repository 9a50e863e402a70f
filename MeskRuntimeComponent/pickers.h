// The picker members of the runtime class: pick a folder and send it to a peer, pick
// files to share, pick files of a category and send them, pick the profile image.
// The dialogs themselves come from the PickerService that the application (the host)
// installs; with none installed every pick is a cancel. Each pick's work after the
// dialog runs as a background job, never on the interface thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vandrel {

enum class PickerStart { None, Pictures, Music, Videos, Documents };

class PickerService {
public:
    virtual ~PickerService() = default;
    // Each calls `done` exactly once: with the chosen folder, or "" when cancelled.
    virtual void pick_folder(std::function<void(const std::string& folder)> done) = 0;
    // With the chosen files (absolute paths), or none when cancelled. `filters` lists
    // file endings such as ".jpg"; "*" means any file.
    virtual void pick_files(PickerStart start, std::vector<std::string> filters, bool multiple,
                            std::function<void(const std::vector<std::string>& files)> done) = 0;
};

void install_picker_service(std::shared_ptr<PickerService> service);
// The installed service, or null.
std::shared_ptr<PickerService> picker_service();

// Sends every file of the chosen folder and its subfolders to the peer, in
// "/create_upload" requests of 100 files that share one upload id.
void pick_folder_to_send(const std::string& peer_id);
// Stores the chosen files as shared files, as references into the accepted folder that
// holds the first of them; without one the user is told to add the folder.
void pick_files_to_share();
// {"type": category, "to": peer id}: "photos", "songs", "videos", "files" or another
// text pick files (from a start folder by category) and send them to the peer;
// "folder" picks a folder to send instead.
void pick_and_send_by_category(const std::string& request_json);
// A thumbnail of the chosen image becomes the avatar, as a "data:image/jpeg;base64,"
// text.
void pick_profile_image();

// The accepted folder (canonical path) that holds the file, the first in search order,
// or "" when none does; `searching`, when given, hears of each folder before it is searched.
std::string find_accepted_folder(const std::string& file_path,
                                 const std::function<void(const std::string& folder)>& searching = {});

// Where the folder and category pickers send each serialised "/create_upload" body.
// The default (also after an empty function) is handle_api_request with the origin
// "from_ui"; tests put a recorder in front of it.
using UploadRequestSender = std::function<void(const std::string& body)>;
void set_upload_request_sender(UploadRequestSender sender);

}  // namespace vandrel
