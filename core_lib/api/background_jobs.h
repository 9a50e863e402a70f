// Work that requests start and do not wait for (long chats, queued downloads, pending
// uploads, completion notices, folder picks) runs here, on one bounded pool of
// workers rather than on a new thread per request. A job that throws is logged and
// dropped; the pool goes on.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace vandrel {

// Queues the job; `name` goes into the log line when the job fails. When the queue is
// full the job runs on the calling thread, which slows the caller down instead of
// letting a flood of requests grow the queue without end.
void start_background_job(std::string name, std::function<void()> job);

// Waits until no job is queued or running; false when the timeout passed first.
// For tests and orderly shutdown; a job that keeps starting jobs keeps it waiting.
bool wait_for_background_jobs(std::chrono::milliseconds timeout);

// Number of workers of the pool (fixed for the process).
unsigned background_worker_count();

}  // namespace vandrel
