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
// Every pick but :pick-accepted-folder is answered "reply :NAME {"status": "success"}"
// once handed over; a line the host refuses is answered on standard output as
// "reply NAME {"error_code": ..., "message": ..., "status": "error"}" (NAME is the
// endpoint or the command) and goes no further: a request whose body is not JSON
// ("invalid_json"), an unknown command, wrong arguments, an empty path.
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
    invalid,               // reply_to, error_code and error say why
};

struct command {
    command_kind kind = command_kind::empty;
    std::string endpoint;
    std::string body;
    std::string peer;
    std::vector<std::string> paths;
    std::optional<dialog> answers;  // of a pick: the dialog that its paths answer
    std::string reply_to;           // the name its reply line carries: the endpoint or the command
    std::string error_code;         // of an invalid line
    std::string error;              // of an invalid line, for people
};

command parse_command(const std::string& line);

// The command refused, answered under its own name: kind invalid, the code and the text.
command refused(command c, std::string error_code, std::string error);

// The host's error reply of an invalid command, and its success reply of a pick.
std::string error_reply(const command& c);
std::string success_reply(const command& c);

std::string reply_line(const std::string& endpoint, const std::string& reply);
std::string event_line(const std::string& text);

}  // namespace vandrel::host
