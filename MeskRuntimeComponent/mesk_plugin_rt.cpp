#include "MeskRuntimeComponent/mesk_plugin_rt.h"

#include <iostream>
#include <thread>
#include <vector>

#include "MeskRuntimeComponent/pickers.h"
#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/api_reply.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/foundation/named_thread.h"
#include "core_lib/foundation/run_logged.h"
#include "core_lib/platform/ui_event_channel.h"

namespace MeskRuntimeComponent {

namespace {

// What the process-wide instance runs: the core it made and the thread that started it.
// All guarded by statics_mutex.
struct process_core {
    std::mutex statics_mutex;
    vandrel::core_config config;
    std::function<void()> startup_routine;
    std::unique_ptr<vandrel::core> running;
    std::thread startup;
    std::function<std::shared_ptr<vandrel::KeepAwake>()> make_keep_awake;
    bool keep_awake_made = false;
    std::shared_ptr<vandrel::KeepAwake> keep_awake;
};

process_core& statics() {
    // Outlives every instance: Shutdown may run while static objects are torn down.
    static process_core* made = new process_core();
    return *made;
}

}  // namespace

void MeskPluginRT::Configure(vandrel::core_config config) {
    std::lock_guard<std::mutex> lock(statics().statics_mutex);
    statics().config = std::move(config);
}

void MeskPluginRT::ConfigureKeepAwake(std::function<std::shared_ptr<vandrel::KeepAwake>()> make) {
    std::lock_guard<std::mutex> lock(statics().statics_mutex);
    statics().make_keep_awake = std::move(make);
}

MeskPluginRT::MeskPluginRT() {
    process_core& shared = statics();
    std::lock_guard<std::mutex> lock(shared.statics_mutex);
    // Once per process, by whichever object comes first; never again after Shutdown.
    if (shared.keep_awake_made) return;
    shared.keep_awake_made = true;
    if (shared.make_keep_awake) shared.keep_awake = shared.make_keep_awake();
}

void MeskPluginRT::SetStartup(std::function<void()> startup) {
    std::lock_guard<std::mutex> lock(statics().statics_mutex);
    statics().startup_routine = std::move(startup);
}

std::shared_ptr<MeskPluginRT> MeskPluginRT::Instance() {
    // Thread-safe first initialisation: exactly one object and one start-up.
    static const std::shared_ptr<MeskPluginRT> instance = [] {
        std::shared_ptr<MeskPluginRT> made(new MeskPluginRT());
        made->hold_current_dispatcher();
        std::weak_ptr<MeskPluginRT> weak = made;
        process_core& shared = statics();
        std::lock_guard<std::mutex> lock(shared.statics_mutex);
        vandrel::core_config config = shared.config;
        config.ui_sink = [weak](const std::string& text) {
            if (auto self = weak.lock()) self->SendToUI(text);
        };
        shared.running = std::make_unique<vandrel::core>(std::move(config));
        vandrel::core* started = shared.running.get();
        std::function<void()> routine = shared.startup_routine;
        shared.startup = vandrel::start_thread("mesk-start", [started, routine] {
            if (routine) {
                routine();
            } else {
                started->start();
            }
        });
        return made;
    }();
    return instance;
}

void MeskPluginRT::Shutdown() {
    process_core& shared = statics();
    std::unique_ptr<vandrel::core> ending;
    std::thread startup;
    std::shared_ptr<vandrel::KeepAwake> keep_awake;
    {
        std::lock_guard<std::mutex> lock(shared.statics_mutex);
        ending = std::move(shared.running);
        startup = std::move(shared.startup);
        shared.config = vandrel::core_config{};
        keep_awake = std::move(shared.keep_awake);
    }
    if (startup.joinable()) startup.join();
    if (ending) ending->stop();
    // The core and its platform links (the hotspot among them) go before the keep-awake.
    ending.reset();
    keep_awake.reset();
}

std::shared_ptr<MeskPluginRT> MeskPluginRT::ActivateInstance() {
    return std::shared_ptr<MeskPluginRT>(new MeskPluginRT());
}

void MeskPluginRT::hold_current_dispatcher() {
    // A caller with no dispatcher of its own leaves the one held before in place.
    auto current = vandrel::Dispatcher::current();
    if (!current) return;
    std::lock_guard<std::mutex> lock(dispatcher_mutex_);
    dispatcher_ = std::move(current);
}

std::shared_ptr<vandrel::Dispatcher> MeskPluginRT::HeldObject() const {
    std::lock_guard<std::mutex> lock(dispatcher_mutex_);
    return dispatcher_;
}

EventRegistrationToken MeskPluginRT::add_ToUI(ToUIEventHandler handler) {
    std::lock_guard<std::mutex> lock(event_mutex_);
    EventRegistrationToken token{next_token_++};
    handlers_.emplace(token.Value, std::move(handler));
    return token;
}

void MeskPluginRT::remove_ToUI(EventRegistrationToken token) {
    std::lock_guard<std::mutex> lock(event_mutex_);
    handlers_.erase(token.Value);
}

void MeskPluginRT::raise_ToUI(const std::string& text) {
    std::vector<ToUIEventHandler> to_call;
    {
        std::lock_guard<std::mutex> lock(event_mutex_);
        for (const auto& [token, handler] : handlers_) to_call.push_back(handler);
    }
    // Called outside the lock, so a handler may add or remove handlers.
    for (const auto& handler : to_call) handler(text);
}

void MeskPluginRT::SendToUI(std::string text) {
    auto dispatcher = HeldObject();
    if (!dispatcher) return;
    auto self = shared_from_this();
    dispatcher->RunAsync(vandrel::DispatchPriority::High, [self, text = std::move(text)] { self->raise_ToUI(text); });
}

void MeskPluginRT::deliver_reply(const Callback& callback, std::string reply) {
    if (!callback) return;
    auto dispatcher = HeldObject();
    if (!dispatcher) {
        // Nobody to post to: the callback still hears its reply once.
        vandrel::run_logged("reply callback", [&] { callback(reply); });
        return;
    }
    dispatcher->RunAsync(vandrel::DispatchPriority::High, [callback, reply = std::move(reply)] { callback(reply); });
}

void MeskPluginRT::ApiRequest(std::string endpoint, std::string body, Callback callback) {
    hold_current_dispatcher();
    auto self = shared_from_this();
    // Shared by the job and by the refusal below: whichever runs answers.
    auto answer = std::make_shared<const Callback>(std::move(callback));
    std::string job_name = "api request " + endpoint;
    auto job = [self, endpoint = std::move(endpoint), body = std::move(body), answer] {
        std::string reply;
        try {
            reply = vandrel::handle_api_request(endpoint, body, "from_ui");
        } catch (...) {
            reply = vandrel::reply_error_code(vandrel::error_internal);
        }
        self->deliver_reply(*answer, std::move(reply));
    };
    try {
        if (!vandrel::start_request_job(std::move(job_name), std::move(job))) {
            deliver_reply(*answer, vandrel::reply_error_code(vandrel::error_busy));
        }
    } catch (const std::exception&) {
        // No core runs to answer it.
        deliver_reply(*answer, vandrel::reply_error_code(vandrel::error_internal));
    }
}

void MeskPluginRT::PickFolderToSend(std::string peer_id) { vandrel::pick_folder_to_send(peer_id); }

void MeskPluginRT::PickAndSendByCategory(std::string request_json) {
    if (!HeldObject()) return;
    vandrel::pick_and_send_by_category(request_json);
}

void MeskPluginRT::PickFilesToShare(std::string) {
    if (!HeldObject()) return;
    vandrel::pick_files_to_share();
}

void MeskPluginRT::PickProfileImage(std::string) { vandrel::pick_profile_image(); }

}  // namespace MeskRuntimeComponent
