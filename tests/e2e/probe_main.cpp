// mesk_probe: one in-process core that plays a peer in the network tests.
//   mesk_probe ping PEER_ADDRESS
// starts its core (servers included), proves the peer at that address by a ping and
// prints "proven DEVICE_ID" (empty when the proof failed) and "me DEVICE_ID"; then it
// keeps serving, so that the peer can prove it in turn, until its input ends.
#include <cstdio>
#include <iostream>
#include <string>

#include "MeskRuntimeComponent/dispatcher.h"
#include "MeskRuntimeComponent/linux_platform_services.h"
#include "core_lib/net/http/https_client.h"
#include "core_lib/net/peers/peer_identity.h"
#include "core_lib/startup/core.h"
#include "core_lib/store/settings.h"

using namespace vandrel;

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) != "ping") {
        std::cerr << "usage: mesk_probe ping PEER_ADDRESS\n";
        return 2;
    }
    const std::string address = argv[2];
    core_config config;
    config.platform = std::make_shared<LinuxPlatformServices>(Dispatcher::create(), LinuxPlatformConfig{});
    core probe(std::move(config));
    probe.start();

    const std::string proven = prove_peer_at(address, post_json_deadline);
    std::printf("proven %s\nme %s\n", proven.c_str(), get_userid().c_str());
    std::fflush(stdout);
    for (std::string line; std::getline(std::cin, line);) {}
    return 0;
}
