// core_start: brings the running core up (core::start runs it), in a fixed order: TLS
// library, the store (set up by its first read), the device id and downloads folder,
// the certificate, the retention purge, the announce service, the servers, web share
// and hotspot when their start-up switches are on, the service threads (network watch,
// resend, events upload, LAN announce, peer refresh, cloud discovery, notification
// mirror), one resend wake-up, the download thread, and last the text "core_started"
// to the interface. A
// step that fails is logged and the later steps run.
#pragma once

#include "core_lib/net/rest_server.h"

namespace vandrel {

void core_start();

// What the REST server and the loopback server route to: the API, the files offered to
// peers and the thumbnails.
rest_routes core_rest_routes();

}  // namespace vandrel
