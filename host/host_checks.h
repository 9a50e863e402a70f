// The checks a pick passes before the host answers its dialog: what the dialog would
// never return (a path that does not exist, a folder that is not one) and what the core
// would drop without a word (files outside every accepted folder, a peer it does not
// know). A pick that fails one comes back refused, with the reason; anything else comes
// back as it was. Reads the file system and the store: never on the interface thread.
#pragma once

#include "host/host_protocol.h"

namespace vandrel::host {

command checked(command c);

}  // namespace vandrel::host
