// mesk: plays the application. Reads request and command lines on standard input,
// writes "reply ..." and "event ..." lines on standard output, and runs until ":quit",
// SIGINT or SIGTERM; then it stops the core and returns. Everything for people goes to
// standard error.
//   mesk [--bind ADDRESS]
// --bind: every server listens on that IP address only and peers are called from it,
// so that several devices can run on one machine (each on a loopback address).
#include <pthread.h>
#include <signal.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "MeskRuntimeComponent/dispatcher.h"
#include "MeskRuntimeComponent/hotspot.h"
#include "MeskRuntimeComponent/keep_awake.h"
#include "MeskRuntimeComponent/linux_platform_services.h"
#include "MeskRuntimeComponent/mesk_plugin_rt.h"
#include "MeskRuntimeComponent/network_manager_hotspot.h"
#include "MeskRuntimeComponent/pickers.h"
#include "core_lib/net/net_config.h"
#include "core_lib/store/config.h"
#include "host/host_checks.h"
#include "host/host_input.h"
#include "host/host_pickers.h"
#include "host/host_protocol.h"

using MeskRuntimeComponent::MeskPluginRT;
using namespace vandrel;

namespace {

// Only the main thread writes standard output, so lines never interleave.
void print_line(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Hands the request to the core; its reply comes out as a "reply" line.
void send_request(const std::string& endpoint, const std::string& body) {
    MeskPluginRT::Instance()->ApiRequest(
        endpoint, body, [endpoint](const std::string& reply) { print_line(host::reply_line(endpoint, reply)); });
}

void run_command(const host::command& cmd, const std::shared_ptr<Dispatcher>& ui,
                 const std::shared_ptr<host::HostPickers>& pickers) {
    // Queued first: most dialogs open within the call below.
    if (cmd.answers) pickers->answer(*cmd.answers, cmd.paths);
    auto instance = MeskPluginRT::Instance();
    switch (cmd.kind) {
        case host::command_kind::empty:
            break;
        case host::command_kind::invalid:
            print_line(host::error_reply(cmd));
            return;
        case host::command_kind::quit:
            ui->stop();
            break;
        case host::command_kind::api_request:
        case host::command_kind::pick_accepted_folder:
            send_request(cmd.endpoint, cmd.body);
            break;
        case host::command_kind::pick_folder:
            instance->PickFolderToSend(cmd.peer);
            break;
        case host::command_kind::pick_files:
            instance->PickFilesToShare("");
            break;
        case host::command_kind::pick_category:
            instance->PickAndSendByCategory(cmd.body);
            break;
        case host::command_kind::pick_image:
            instance->PickProfileImage("");
            break;
    }
    const bool answered_here = cmd.answers && cmd.kind != host::command_kind::pick_accepted_folder;
    if (answered_here) print_line(host::success_reply(cmd));
}

// The options; false (and a line on standard error) for anything else.
bool parse_options(int argc, char** argv, net_config& network) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--bind" && i + 1 < argc) {
            network.bind_address = argv[++i];
            continue;
        }
        std::cerr << "usage: mesk [--bind ADDRESS]\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    net_config network;
    if (!parse_options(argc, argv, network)) return 2;

    // Signals are taken by the input thread; every other thread inherits the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    auto ui = Dispatcher::create();
    CurrentDispatcherScope ui_thread(ui);

    LinuxPlatformConfig config;
    auto pickers = std::make_shared<host::HostPickers>(user_folders_of(config.environment).downloads);
    config.others_folder_token = [] { return db_config_get(true, "others_folder_token"); };
    config.set_others_folder_token = [](const std::string& token) {
        db_config_set(true, "others_folder_token", token);
    };
    config.pick_others_folder = [pickers](const std::function<void(const std::string&)>& done) {
        pickers->pick_others_folder(done);
    };
    config.pick_folder = [pickers](const std::function<void(const std::string&)>& done) {
        pickers->pick_accepted_folder(done);
    };
    core_config setup;
    setup.platform = std::make_shared<LinuxPlatformServices>(ui, config);
    // A core bound to a loopback address is one of several on this machine and sends
    // nothing beyond it: the machine's radio is not its to open.
    if (!loopback_only(network)) {
        setup.hotspot = std::make_shared<WlanHostedNetworkHelper>(
            std::make_shared<NetworkManagerHotspotBackend>(network_manager_config(config.environment.path)));
    }
    setup.network = network;
    MeskPluginRT::Configure(std::move(setup));
    MeskPluginRT::ConfigureKeepAwake([path = config.environment.path] { return std::make_shared<KeepAwake>(path); });
    install_picker_service(pickers);

    auto instance = MeskPluginRT::Instance();
    instance->add_ToUI([](const std::string& text) { print_line(host::event_line(text)); });

    {
        host::host_input input(
            STDIN_FILENO, stop_signals,
            {[ui, pickers](const std::string& line) {
                 // Checked here, on the input thread: the checks read the disk and the store.
                 host::command cmd = host::checked(host::parse_command(line));
                 ui->RunAsync(DispatchPriority::Normal, [cmd, ui, pickers] { run_command(cmd, ui, pickers); });
             },
             [ui] { ui->stop(); },
             [] { std::cerr << "standard input closed; running until :quit, SIGINT or SIGTERM\n"; }});
        ui->run_until_stopped();
    }
    MeskPluginRT::Shutdown();
    // Replies and events the core posted while it stopped.
    ui->drain();
    std::fflush(stdout);
    return 0;
}
