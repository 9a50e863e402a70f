// What the request API keeps for a running core: the pool its handlers hand long work
// to. One instance per core, bound through current<>; stop() finishes the queued jobs
// and joins the workers.
#pragma once

#include "core_lib/api/background_jobs.h"
#include "core_lib/foundation/current.h"

namespace vandrel {

inline constexpr unsigned background_workers = 4;
inline constexpr std::size_t background_queue_limit = 1024;

class api_state {
public:
    static constexpr const char* part_name = "request API";

    api_state() = default;
    api_state(const api_state&) = delete;
    api_state& operator=(const api_state&) = delete;

    void stop() { jobs.stop(); }

    job_pool jobs{background_workers, background_queue_limit};
};

using current_api = current<api_state>;

}  // namespace vandrel
