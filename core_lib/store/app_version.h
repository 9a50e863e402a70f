// The application's version text, as peers, the cloud service and events see it.
#pragma once

#include <string>

namespace vandrel {

inline std::string app_version() { return "4.3.0"; }

}  // namespace vandrel
