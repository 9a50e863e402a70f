// Store costs as the history grows: storing a chat, marking it sent, and reading the
// newest page of one peer's history, with 1,000 and with 100,000 chats stored.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/chat_history.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/db_session.h"
#include "core_lib/store/settings.h"
#include "tests/support/temp_store.h"

namespace {

using namespace vandrel;

constexpr int peer_count = 10;

std::string peer_name(long i) { return "peer" + std::to_string(i % peer_count); }

// A store holding `chats` text chats spread over ten peers, newest last.
class history_store {
public:
    explicit history_store(long chats) {
        // Events are not what is measured; keeping them would only grow the heap.
        set_ui_sink(nullptr);
        me_ = get_userid();

        store_session session;
        db_transaction transaction(session.db());
        SQLite::Statement insert(session.db(),
                                 "insert into chats (id, sender, receiver, type, data, date_created, "
                                 "date_updated, sent) values (?, ?, ?, 'text', 'hello there', ?, ?, '1')");
        const std::int64_t start = now_ms() - chats;
        for (long i = 0; i < chats; ++i) {
            const bool incoming = i % 2 == 0;
            insert.bind(1, "old-" + std::to_string(i));
            insert.bind(2, incoming ? peer_name(i) : me_);
            insert.bind(3, incoming ? me_ : peer_name(i));
            insert.bind(4, std::to_string(start + i));
            insert.bind(5, std::to_string(start + i));
            insert.exec();
            insert.reset();
        }
        for (int p = 0; p < peer_count; ++p) {
            session.db().exec("insert into devices (id, alias) values ('" + peer_name(p) + "', 'Peer')");
        }
        transaction.commit();
    }

    const std::string& me() const { return me_; }

private:
    vandrel::testing::temp_store store_;
    std::string me_;
};

std::unique_ptr<history_store> current_store;
long current_size = -1;

// One store at a time; made again when a benchmark asks for another size. It is closed
// at exit before the pool's own statics go.
history_store& store_of(long chats) {
    static const bool cleanup_registered = [] {
        std::atexit([] { current_store.reset(); });
        return true;
    }();
    (void)cleanup_registered;
    if (current_size != chats) {
        current_store.reset();
        current_store = std::make_unique<history_store>(chats);
        current_size = chats;
    }
    return *current_store;
}

void BM_store_chat(benchmark::State& state) {
    history_store& store = store_of(state.range(0));
    long n = 0;
    for (auto _ : state) {
        const std::string id = "new-" + std::to_string(state.range(0)) + "-" + std::to_string(n++);
        benchmark::DoNotOptimize(db_insert_chat("", id, "peer3", store.me(), "text", "hi"));
    }
}

void BM_mark_chat_sent(benchmark::State& state) {
    store_of(state.range(0));
    long n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(db_mark_chat_sent("old-" + std::to_string(n++ % state.range(0))));
    }
}

void BM_newest_page(benchmark::State& state) {
    store_of(state.range(0));
    for (auto _ : state) {
        const Json page = db_get_chats_with_peer(0, "", "peer7");
        if (page.array_items().size() != chat_history_page_size) state.SkipWithError("short page");
        benchmark::DoNotOptimize(page);
    }
}

BENCHMARK(BM_store_chat)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_mark_chat_sent)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_newest_page)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace
