// The host's line protocol. Input: "ENDPOINT BODY" (an API request; BODY may be empty),
// or a line starting with ":" (the host's own commands: quit and the picks a user
// makes). Output: "reply ENDPOINT TEXT" and "event TEXT".
//   :quit
//   :pick-folder PEER PATH          answers the folder-to-send dialog and opens it
//   :pick-files PATH...             answers the files dialog of the shared files
//   :pick-category JSON PATH...     JSON {"type": ..., "to": PEER}; type "folder" answers
//                                   the folder-to-send dialog with the first PATH, any
//                                   other type the files dialog
//   :pick-image PATH                answers the profile image dialog
//   :pick-accepted-folder PATH      answers the accepted-folder dialog, then requests
//                                   "/add_accepted_folder {}" (replied to as any request)
// PEER and PATH words are quoted as in a POSIX shell: '...' is literal, "..." keeps \",
// \\, \$ and \` as escapes, and an unquoted backslash takes the next character as it
// is. An unterminated quote, or a backslash ending the line, makes the line invalid.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/host_dialog.h"

namespace vandrel::host {

enum class command_kind {
    empty,        // blank line: ignored
    api_request,  // endpoint, body
    quit,
    pick_folder,           // peer, paths[0]: PickFolderToSend(peer) answered with the folder
    pick_files,            // paths: PickFilesToShare answered with the files
    pick_category,         // body (the request JSON), paths: PickAndSendByCategory
    pick_image,            // paths[0]: PickProfileImage answered with the image
    pick_accepted_folder,  // endpoint, body, paths[0]: an API request answered with the folder
    invalid,               // error says why
};

struct command {
    command_kind kind = command_kind::empty;
    std::string endpoint;
    std::string body;
    std::string peer;
    std::vector<std::string> paths;
    std::optional<dialog> answers;  // of a pick: the dialog that its paths answer
    std::string error;
};

command parse_command(const std::string& line);

std::string reply_line(const std::string& endpoint, const std::string& reply);
std::string event_line(const std::string& text);

}  // namespace vandrel::host
