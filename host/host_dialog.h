// The kinds of dialog the host answers ahead of time. An answer queued for one kind is
// only ever taken by a dialog of that same kind.
#pragma once

namespace vandrel::host {

enum class dialog {
    folder_to_send,   // PickFolderToSend, and a category pick of type "folder"
    accepted_folder,  // the platform's folder picker behind "/add_accepted_folder"
    files,            // PickFilesToShare and every other category pick
    image,            // PickProfileImage
    others_folder,    // the folder for received files of no known kind, asked at start
};

}  // namespace vandrel::host
