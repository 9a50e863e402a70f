// The host's line protocol. Input: "ENDPOINT BODY" (an API request; BODY may be empty),
// or a line starting with ":" (the host's own commands: quit and the picks a user
// makes). Output: "reply ENDPOINT TEXT" and "event TEXT".
#pragma once

#include <string>
#include <vector>

namespace vandrel::host {

enum class command_kind {
    empty,        // blank line: ignored
    api_request,  // endpoint, body
    quit,
    pick_folder,    // peer, paths[0]: PickFolderToSend(peer) answered with the folder
    pick_files,     // paths: PickFilesToShare answered with the files
    pick_category,  // body (the request JSON), paths: PickAndSendByCategory
    pick_image,     // paths[0]: PickProfileImage answered with the image
    invalid,        // error says why
};

struct command {
    command_kind kind = command_kind::empty;
    std::string endpoint;
    std::string body;
    std::string peer;
    std::vector<std::string> paths;
    std::string error;
};

command parse_command(const std::string& line);

std::string reply_line(const std::string& endpoint, const std::string& reply);
std::string event_line(const std::string& text);

}  // namespace vandrel::host
