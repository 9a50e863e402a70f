// Acting on an upload: offer it to the peer again ("/resend"), pause it as a whole or
// one file, and resume. Pauses go into the store (refusing new requests for the file)
// and into the stop and pause slots (cutting a running answer); resume and resend
// clear both.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_resend(Json params, std::string origin);
std::string handle_pause_file_upload(Json params, std::string origin);
std::string handle_pause_upload(Json params, std::string origin);
std::string handle_resume_file_upload(Json params, std::string origin);
std::string handle_resume_upload(Json params, std::string origin);

}  // namespace vandrel
