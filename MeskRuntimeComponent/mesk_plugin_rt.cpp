#include "MeskRuntimeComponent/mesk_plugin_rt.h"

#include <iostream>
#include <vector>

#include "MeskRuntimeComponent/pickers.h"
#include "MeskRuntimeComponent/ui_event_channel.h"
#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/api_reply.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/net/core_start.h"

namespace MeskRuntimeComponent {

namespace {

std::mutex statics_mutex;
std::function<void()> startup_routine;

}  // namespace

void MeskPluginRT::SetStartup(std::function<void()> startup) {
    std::lock_guard<std::mutex> lock(statics_mutex);
    startup_routine = std::move(startup);
}

std::shared_ptr<MeskPluginRT> MeskPluginRT::Instance() {
    // Thread-safe first initialisation: exactly one object and one start-up.
    static const std::shared_ptr<MeskPluginRT> instance = [] {
        std::shared_ptr<MeskPluginRT> made(new MeskPluginRT());
        made->hold_current_dispatcher();
        std::weak_ptr<MeskPluginRT> weak = made;
        vandrel::set_ui_sink([weak](const std::string& text) {
            if (auto self = weak.lock()) self->SendToUI(text);
        });
        std::function<void()> startup;
        {
            std::lock_guard<std::mutex> lock(statics_mutex);
            startup = startup_routine ? startup_routine : [] { vandrel::core_start(); };
        }
        vandrel::start_background_job("core start-up", std::move(startup));
        return made;
    }();
    return instance;
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
    dispatcher->RunAsync(vandrel::DispatchPriority::High,
                         [self, text = std::move(text)] { self->raise_ToUI(text); });
}

void MeskPluginRT::ApiRequest(std::string endpoint, std::string body, Callback callback) {
    hold_current_dispatcher();
    auto self = shared_from_this();
    vandrel::start_background_job(
        "api request " + endpoint,
        [self, endpoint = std::move(endpoint), body = std::move(body), callback = std::move(callback)] {
            std::string reply;
            try {
                reply = vandrel::handle_api_request(endpoint, body, "from_ui");
            } catch (...) {
                reply = vandrel::reply_error_code(vandrel::error_internal);
            }
            auto dispatcher = self->HeldObject();
            if (!dispatcher || !callback) return;
            dispatcher->RunAsync(vandrel::DispatchPriority::High,
                                 [callback, reply = std::move(reply)] { callback(reply); });
        });
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
