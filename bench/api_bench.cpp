// Requests per second through handle_api_request from 8 threads: "/hello_world" (the
// dispatcher alone), "/who_am_i" (cached settings and the device model) and text
// chats through "/create_chat": a short one, stored before the reply, and an outgoing
// one with full device ids, which is longer than 100 characters and so is stored on
// the background pool (its queue is bounded, so the rate is the storing rate; the last
// queued chats are waited for after the timed loop).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/foundation/json.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/settings.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

// One temporary store for the whole run.
struct bench_store {
    bench_store() {
        // Events are not what is measured; keeping them would only grow the heap.
        set_ui_sink(nullptr);
        store.platform().set_device_model("linux/bench - bench");
        own_id = get_userid();
        get_alias();
    }
    vandrel::testing::temp_store store;
    std::string own_id;
};

bench_store& store() {
    static bench_store instance;
    return instance;
}

void drain_resend_queue() {
    bool woken;
    while (resend_queue().try_dequeue(woken)) {}
}

void BM_hello_world(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(handle_api_request("/hello_world", "{}", "from_ui"));
    state.SetItemsProcessed(state.iterations());
}

void BM_who_am_i(benchmark::State& state) {
    store();
    for (auto _ : state) benchmark::DoNotOptimize(handle_api_request("/who_am_i", "{}", "from_ui"));
    state.SetItemsProcessed(state.iterations());
}

std::atomic<std::uint64_t> chat_counter{0};

void BM_create_chat_text_short(benchmark::State& state) {
    store();
    for (auto _ : state) {
        const Json chat(Json::object{{"id", "s" + std::to_string(chat_counter++)},
                                     {"sender", "peer"},
                                     {"receiver", "me"},
                                     {"type", "text"},
                                     {"data", "hello"}});
        benchmark::DoNotOptimize(handle_api_request("/create_chat", chat.dump(), "from_ui"));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_create_chat_text_outgoing(benchmark::State& state) {
    const std::string& own_id = store().own_id;
    const std::string receiver(64, 'b');
    for (auto _ : state) {
        const Json chat(Json::object{{"id", "o" + std::to_string(chat_counter++)},
                                     {"sender", own_id},
                                     {"receiver", receiver},
                                     {"type", "text"},
                                     {"data", "hello there"}});
        benchmark::DoNotOptimize(handle_api_request("/create_chat", chat.dump(), "from_ui"));
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        wait_for_background_jobs(std::chrono::minutes(5));
        drain_resend_queue();
    }
}

BENCHMARK(BM_hello_world)->Threads(8)->UseRealTime();
BENCHMARK(BM_who_am_i)->Threads(8)->UseRealTime();
BENCHMARK(BM_create_chat_text_short)->Threads(8)->UseRealTime();
BENCHMARK(BM_create_chat_text_outgoing)->Threads(8)->UseRealTime();

}  // namespace
}  // namespace vandrel
