// What the request API keeps for a running core: bounded pools, one that answers the
// interface's requests, one lane of a single worker that processes chats answered
// before they were kept (so they are kept in the order they came), and one for the
// long work that requests start (folder walks, picks, many-file uploads), so that a
// long job never delays a request. One instance per core, bound through current<>; stop() finishes the queued
// work and joins the workers.
#pragma once

#include <cstddef>
#include <functional>

#include "core_lib/foundation/current.h"
#include "core_lib/foundation/job_pool.h"

namespace vandrel {

inline constexpr unsigned request_workers = 4;
inline constexpr std::size_t request_queue_limit = 1024;
// A queued chat holds its parsed request (up to a peer body's size): few may wait.
inline constexpr std::size_t chat_queue_limit = 64;
inline constexpr unsigned background_workers = 4;
inline constexpr std::size_t background_queue_limit = 4096;

class api_state {
public:
    static constexpr const char* part_name = "request API";

    api_state() = default;
    api_state(const api_state&) = delete;
    api_state& operator=(const api_state&) = delete;

    void stop() {
        requests.stop();
        chats.stop();
        jobs.stop();
    }

    // Starts a run of the self test, whose runner lives above this layer (the core sets
    // it before it starts): true when a run started, false while one is going. Empty:
    // this core has no self test.
    std::function<bool()> start_self_test;

    job_pool requests{request_workers, request_queue_limit, "mesk-api"};
    job_pool chats{1, chat_queue_limit, "mesk-chat"};
    job_pool jobs{background_workers, background_queue_limit, "mesk-jobs"};
};

using current_api = current<api_state>;

}  // namespace vandrel
