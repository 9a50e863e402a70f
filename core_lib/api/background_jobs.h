// Where the request API runs what it does not do on the caller's thread: the
// interface's requests on one pool of the running core, the long work that requests
// start (long chats, queued downloads, pending uploads, completion notices, folder
// walks and picks) on another. Both are bounded: a full queue refuses the job (false)
// and the caller answers that it is busy; no job ever runs on the caller's thread,
// which may be the interface's. A job that throws is logged and dropped.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace vandrel {

// `name` goes into the log line when the job fails. Throws std::logic_error when no
// core runs.
bool start_request_job(std::string name, std::function<void()> job);
bool start_background_job(std::string name, std::function<void()> job);
// One after another, in the order they were started.
bool start_chat_job(std::string name, std::function<void()> job);

// Runs the job on the chat lane (after those started before it) and waits for its end:
// true once it ended within the timeout, false when the lane refused it or the timeout
// passed first (it still runs then).
bool run_on_chat_lane(std::string name, std::function<void()> job, std::chrono::milliseconds timeout);

// Waits until every chat job started before the call has run; false when the timeout
// passed first or the lane takes no more jobs. Readers of what a chat stores use it, so
// that they never race the chat lane.
bool wait_for_chat_lane(std::chrono::milliseconds timeout);

// Waits until no background job (and no request) is queued or running; false when the
// timeout passed first. For tests; a job that keeps starting jobs keeps it waiting.
bool wait_for_background_jobs(std::chrono::milliseconds timeout);

// Number of workers of the background pool.
unsigned background_worker_count();

}  // namespace vandrel
