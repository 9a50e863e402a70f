// MeskPluginRT: the one object through which the application reaches the core.
// Instance() gives the process-wide object and, on its first read, captures the calling
// thread's dispatcher, makes the core from what Configure gave and starts it once on a
// thread of its own. ApiRequest runs a request on a background worker of the running
// core and calls its callback exactly once: on the held dispatcher at High priority, or
// on the worker when no dispatcher is held. SendToUI raises ToUI on the held dispatcher;
// with none held it drops the text. The first object of the process takes the keep-awake
// that ConfigureKeepAwake gave (the session does not idle while it runs); Shutdown
// stops the core, joins its threads and lets the keep-awake go.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "MeskRuntimeComponent/dispatcher.h"
#include "MeskRuntimeComponent/keep_awake.h"
#include "core_lib/startup/core.h"

namespace MeskRuntimeComponent {

using Callback = std::function<void(const std::string& reply)>;
using ToUIEventHandler = std::function<void(const std::string& text)>;

struct EventRegistrationToken {
    std::int64_t Value = 0;
};

class MeskPluginRT : public std::enable_shared_from_this<MeskPluginRT> {
public:
    // The process-wide object; the first read starts the core on a background thread.
    static std::shared_ptr<MeskPluginRT> Instance();
    static std::string Hello() { return "hi"; }
    // A separate object that starts nothing and holds no dispatcher until ApiRequest.
    static std::shared_ptr<MeskPluginRT> ActivateInstance();

    // What the first read of Instance() makes its core from: the platform services,
    // the hotspot and the network configuration (the UI sink is the instance's own).
    static void Configure(vandrel::core_config config);
    // Makes the keep-awake the first object of the process holds; unset: none.
    static void ConfigureKeepAwake(std::function<std::shared_ptr<vandrel::KeepAwake>()> make);
    // What the first read of Instance() runs once on the core's start-up thread (the core
    // start-up unless replaced before that read).
    static void SetStartup(std::function<void()> startup);
    // Stops the core that Instance() made (joining every thread it started) and lets
    // it go; the instance stays and drops its texts from then on.
    static void Shutdown();

    void PickFolderToSend(std::string peer_id);
    EventRegistrationToken add_ToUI(ToUIEventHandler handler);
    void remove_ToUI(EventRegistrationToken token);
    void ApiRequest(std::string endpoint, std::string body, Callback callback);
    void SendToUI(std::string text);
    void PickAndSendByCategory(std::string request_json);
    void PickFilesToShare(std::string unused);
    void PickProfileImage(std::string unused);
    // The held dispatcher, or null.
    std::shared_ptr<vandrel::Dispatcher> HeldObject() const;

    MeskPluginRT(const MeskPluginRT&) = delete;
    MeskPluginRT& operator=(const MeskPluginRT&) = delete;

private:
    MeskPluginRT();
    void hold_current_dispatcher();
    void raise_ToUI(const std::string& text);
    void deliver_reply(const Callback& callback, std::string reply);

    mutable std::mutex dispatcher_mutex_;
    std::shared_ptr<vandrel::Dispatcher> dispatcher_;

    std::mutex event_mutex_;
    std::map<std::int64_t, ToUIEventHandler> handlers_;
    std::int64_t next_token_ = 1;
};

}  // namespace MeskRuntimeComponent
