#include "tests/e2e/fault_workload.h"

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include "core_lib/foundation/json.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/transfer_harness.h"

namespace vandrel::testing {

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int device_count = 3;

struct source_file {
    int owner = 0;
    std::string name;
    std::string path;
    std::string sha;
    milliseconds offer_at{0};
    bool offered = false;
};

// A file as it was offered: its id, receiver and source.
struct offered_file {
    std::string id;
    std::string chat_id;
    int from = 0;
    int to = 0;
    const source_file* source = nullptr;
};

struct typed_chat {
    std::string id;
    int from = 0;
    int to = 0;
    // The interface had the sender's "success": the chat must arrive.
    bool confirmed = false;
};

enum class fault_kind { kill, kill_after_typing, kill_after_confirmed, pause, quit };

struct fault {
    milliseconds at{0};
    fault_kind kind = fault_kind::kill;
    int device = 0;
    milliseconds away{0};  // until it runs again
};

const char* kind_name(fault_kind kind) {
    switch (kind) {
        case fault_kind::kill:
            return "kill";
        case fault_kind::kill_after_typing:
            return "kill right after typing a chat";
        case fault_kind::kill_after_confirmed:
            return "kill right after a chat was confirmed";
        case fault_kind::pause:
            return "pause";
        case fault_kind::quit:
            return "quit";
    }
    return "";
}

enum class run_state { running, paused, down };

struct device_slot {
    std::unique_ptr<MeskSession> session;
    run_state state = run_state::down;
    clock_type::time_point back_at;
    std::string id;
    bool spared = false;
    // The figures of the running program: at its first report and now.
    long first_rss_kb = -1;
    long first_fds = -1;
    int reported_pid = -1;
};

long open_descriptors(int pid) {
    std::error_code ec;
    long count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        ++count;
    }
    return ec ? -1 : count;
}

// The answer of a query on the device's store, read beside (or after) its program.
class store_reader {
public:
    explicit store_reader(const std::string& path) : db_(path, SQLite::OPEN_READWRITE, 5000) {}
    std::string text(const std::string& sql, const std::string& id) {
        SQLite::Statement select(db_, sql);
        select.bind(1, id);
        return select.executeStep() ? select.getColumn(0).getString() : "";
    }
    std::string integrity() { return db_.execAndGet("PRAGMA integrity_check").getString(); }

private:
    SQLite::Database db_;
};

bool arrived(const std::string& status) { return status == "complete" || status == "complete_sent"; }

class workload {
public:
    workload(const TestNetwork& net, const workload_settings& settings, std::ostream& log)
        : net_(net), settings_(settings), log_(log), draw_(settings.seed) {}

    std::vector<std::string> run();

private:
    double seconds() const { return std::chrono::duration<double>(clock_type::now() - began_).count(); }
    std::ostream& note() {
        return log_ << "[seed " << settings_.seed << " " << std::fixed << std::setprecision(2) << seconds() << "s] ";
    }
    void fail(const std::string& what) {
        note() << "FAULT: " << what << "\n";
        faults_.push_back(what);
    }
    template <typename T>
    T uniform(T low, T high) {
        if constexpr (std::is_integral_v<T>) {
            return std::uniform_int_distribution<T>(low, high)(draw_);
        } else {
            return std::uniform_real_distribution<T>(low, high)(draw_);
        }
    }
    milliseconds uniform_ms(milliseconds low, milliseconds high) {
        return milliseconds(uniform(low.count(), high.count()));
    }

    const TestDevice& device(int i) const { return net_.device(i); }
    std::string database(int i) const { return device(i).data_folder() + "app.db"; }

    void make_files();
    void draw_faults();
    bool start_device(int i);
    bool meet(clock_type::time_point deadline);
    void pump(int i);
    void pump_all() {
        for (int i = 0; i < device_count; ++i) pump(i);
    }
    void take_event(int i, const Json& e);
    void check_received_file(int receiver, const std::string& file_id, const char* how);
    void check_down_device(int i);
    void bring_back(bool everyone);
    void apply(const fault& f);
    void type_chat(int from, int to, bool wait_for_reply);
    void offer(source_file& file, int to);
    void report_figures(bool last);
    void check_growth();
    bool all_done();
    void nudge();
    void final_checks();
    void check_chats_of(int receiver);

    const TestNetwork& net_;
    workload_settings settings_;
    std::ostream& log_;
    std::mt19937_64 draw_;
    clock_type::time_point began_ = clock_type::now();
    std::vector<std::string> faults_;

    device_slot slots_[device_count];
    std::vector<source_file> files_;
    std::vector<fault> schedule_;
    std::vector<offered_file> offered_;
    std::map<std::string, std::size_t> offered_by_id_;
    std::vector<typed_chat> chats_;
    std::set<std::string> finished_files_;
    std::set<std::string> shown_sent_;
    std::set<std::string> delivered_chats_;
    std::set<std::string> reported_complete_;
    std::map<std::string, int> new_chat_events_;
    int next_chat_ = 0;
};

void workload::make_files() {
    for (int owner = 0; owner < device_count; ++owner) {
        for (int n = 0; n < settings_.files_per_device; ++n) {
            source_file file;
            file.owner = owner;
            file.name =
                "s" + std::to_string(settings_.seed) + "-d" + std::to_string(owner) + "-" + std::to_string(n) + ".bin";
            file.path = pictures_folder(device(owner)) + file.name;
            // Half small files, half large ones that are in flight for a while.
            const std::uint64_t size = uniform(0, 1) == 0 ? uniform<std::uint64_t>(1, 256u << 10)
                                                          : uniform<std::uint64_t>(1u << 20, settings_.largest_file);
            file.sha =
                write_random_file(file.path, size, settings_.seed * 1000 + static_cast<std::uint64_t>(files_.size()));
            file.offer_at = uniform_ms(0ms, settings_.active * 8 / 10);
            files_.push_back(std::move(file));
        }
    }
    std::sort(files_.begin(), files_.end(),
              [](const source_file& a, const source_file& b) { return a.offer_at < b.offer_at; });
}

void workload::draw_faults() {
    std::vector<int> killable;
    for (int i = 0; i < device_count; ++i) {
        slots_[i].spared = i < settings_.spared;
        if (!slots_[i].spared) killable.push_back(i);
    }
    const auto moment = [&] { return uniform_ms(settings_.active / 10, settings_.active * 9 / 10); };
    for (int k = 0; k < settings_.kills && !killable.empty(); ++k) {
        const int variant = uniform(0, 3);
        const fault_kind kind = variant == 0   ? fault_kind::kill_after_typing
                                : variant == 1 ? fault_kind::kill_after_confirmed
                                               : fault_kind::kill;
        schedule_.push_back(
            {moment(), kind, killable[uniform<std::size_t>(0, killable.size() - 1)], uniform_ms(0ms, 2000ms)});
    }
    for (int k = 0; k < settings_.quits && !killable.empty(); ++k) {
        schedule_.push_back({moment(), fault_kind::quit, killable[uniform<std::size_t>(0, killable.size() - 1)],
                             uniform_ms(0ms, 2000ms)});
    }
    // Most pauses are shorter than the 30 s a download waits for data; some are longer.
    for (int k = 0; k < settings_.pauses; ++k) {
        schedule_.push_back({moment(), fault_kind::pause, uniform(0, device_count - 1), uniform_ms(500ms, 40000ms)});
    }
    std::sort(schedule_.begin(), schedule_.end(), [](const fault& a, const fault& b) { return a.at < b.at; });
    std::ostringstream plan;
    for (const fault& f : schedule_) {
        plan << " " << kind_name(f.kind) << " device " << f.device << " at " << f.at.count() << " ms (back after "
             << f.away.count() << " ms);";
    }
    note() << "faults:" << (schedule_.empty() ? " none" : plan.str()) << "\n";
}

bool workload::start_device(int i) {
    device_slot& slot = slots_[i];
    slot.session = start_mesk_session(net_, device(i));
    if (!slot.session) {
        fail("device " + std::to_string(i) + " did not start");
        slot.state = run_state::down;
        return false;
    }
    slot.state = run_state::running;
    const std::string id = slot.session->id();
    if (slot.id.empty()) slot.id = id;
    if (id != slot.id)
        fail("device " + std::to_string(i) + " came back with another id: " + id + " (was " + slot.id + ")");
    return true;
}

bool workload::meet(clock_type::time_point deadline) {
    for (int i = 0; i < device_count; ++i) {
        for (int j = 0; j < device_count; ++j) {
            if (i == j || slots_[i].state != run_state::running) continue;
            if (!slots_[i].session->lists({{slots_[j].id, device(j).address}}, deadline)) {
                fail("device " + std::to_string(i) + " does not list device " + std::to_string(j));
                return false;
            }
        }
    }
    return true;
}

void workload::pump(int i) {
    device_slot& slot = slots_[i];
    if (!slot.session) return;
    while (auto line = slot.session->take_line([](const std::string&) { return true; }, 1ms)) {
        if (line->rfind("event ", 0) == 0) take_event(i, parse_json(line->substr(6)));
    }
}

void workload::take_event(int i, const Json& e) {
    const std::string& action = e["action"].string_value();
    if (action == "download_completed" && e["file_id"].is_string()) {
        check_received_file(i, e["file_id"].string_value(), "reported complete");
        reported_complete_.insert(e["file_id"].string_value());
    } else if (action == "new_chat" && e["info"]["type"].string_value() == "text" &&
               e["info"]["receiver"].string_value() == slots_[i].id) {
        ++new_chat_events_[e["info"]["id"].string_value()];
    }
}

void workload::check_received_file(int receiver, const std::string& file_id, const char* how) {
    const auto found = offered_by_id_.find(file_id);
    if (found == offered_by_id_.end()) return;
    const offered_file& file = offered_[found->second];
    if (file.to != receiver) {
        fail("device " + std::to_string(receiver) + " completed " + file.source->name + " offered to another");
        return;
    }
    const std::string sha = file_sha256(downloads_folder(device(receiver)) + file.source->name);
    if (sha != file.source->sha) {
        fail(file.source->name + " " + how + " on device " + std::to_string(receiver) + " differs from its source");
    }
}

// A program that was just killed: its store and the files it says it has.
void workload::check_down_device(int i) {
    if (!std::filesystem::exists(database(i))) return;
    try {
        store_reader store(database(i));
        const std::string integrity = store.integrity();
        if (integrity != "ok") fail("device " + std::to_string(i) + " store after the kill: " + integrity);
        for (const offered_file& file : offered_) {
            if (file.to != i) continue;
            if (arrived(store.text("select status from files_to_receive where id = ?", file.id))) {
                check_received_file(i, file.id, "stored as complete");
            }
        }
    } catch (const std::exception& e) {
        fail("device " + std::to_string(i) + " store cannot be read after the kill: " + e.what());
    }
}

// Starts what is down and continues what is paused once its time came (all of them
// when `everyone`).
void workload::bring_back(bool everyone) {
    const auto now = clock_type::now();
    for (int i = 0; i < device_count; ++i) {
        device_slot& slot = slots_[i];
        if (slot.state == run_state::running || (!everyone && now < slot.back_at)) continue;
        if (slot.state == run_state::paused) {
            slot.session->process().send_signal(SIGCONT);
            slot.state = run_state::running;
            note() << "device " << i << " continues\n";
        } else {
            note() << "device " << i << " starts again\n";
            start_device(i);
        }
    }
}

void workload::apply(const fault& f) {
    device_slot& slot = slots_[f.device];
    if (slot.state == run_state::down) {
        // Down already: the fault meets it as it starts again.
        note() << "device " << f.device << " is down; it starts again for the " << kind_name(f.kind) << "\n";
        if (!start_device(f.device)) return;
    }
    note() << kind_name(f.kind) << " device " << f.device << "\n";
    slot.back_at = clock_type::now() + f.away;
    if (f.kind == fault_kind::pause) {
        if (slot.state == run_state::running) slot.session->process().send_signal(SIGSTOP);
        slot.state = run_state::paused;
        return;
    }
    if ((f.kind == fault_kind::kill_after_typing || f.kind == fault_kind::kill_after_confirmed) &&
        slot.state == run_state::running) {
        type_chat(f.device, (f.device + uniform(1, device_count - 1)) % device_count,
                  f.kind == fault_kind::kill_after_confirmed);
    }
    if (f.kind == fault_kind::quit && slot.state == run_state::running) {
        if (!slot.session->quit()) fail("device " + std::to_string(f.device) + " did not quit");
    } else {
        slot.session->process().send_signal(SIGKILL);
        if (!slot.session->process().wait_exit(20s)) fail("device " + std::to_string(f.device) + " did not die");
    }
    slot.session.reset();
    slot.state = run_state::down;
    note() << "device " << f.device << " is down with " << temporary_files(downloads_folder(device(f.device))).size()
           << " files arriving\n";
    check_down_device(f.device);
}

void workload::type_chat(int from, int to, bool wait_for_reply) {
    typed_chat chat;
    chat.id = "chat-" + std::to_string(settings_.seed) + "-" + std::to_string(next_chat_++);
    chat.from = from;
    chat.to = to;
    const std::string body = Json(Json::object{{"id", chat.id},
                                               {"sender", slots_[from].id},
                                               {"receiver", slots_[to].id},
                                               {"type", "text"},
                                               {"data", "text of " + chat.id}})
                                 .dump();
    if (wait_for_reply) {
        chat.confirmed = slots_[from].session->request("/create_chat", body)["status"].string_value() == "success";
        if (!chat.confirmed) note() << "chat " << chat.id << " was not confirmed\n";
    } else {
        slots_[from].session->process().write_line("/create_chat " + body);
    }
    chats_.push_back(std::move(chat));
}

// Offers the file, and now and then the owner's next files not yet offered with it.
void workload::offer(source_file& file, int to) {
    std::vector<source_file*> batch{&file};
    if (uniform(0, 2) == 0) {
        for (source_file& other : files_) {
            if (batch.size() < 3 && !other.offered && &other != &file && other.owner == file.owner)
                batch.push_back(&other);
        }
    }
    std::vector<std::string> paths;
    for (source_file* one : batch) {
        one->offered = true;
        paths.push_back(one->path);
    }
    const auto made = offer_files(*slots_[file.owner].session, slots_[to].id, paths);
    for (source_file* one : batch) {
        if (!made || !made->file_ids.count(one->name)) {
            fail("device " + std::to_string(file.owner) + " could not offer " + one->name);
            continue;
        }
        offered_file entry{made->file_ids.at(one->name), made->chat_id, file.owner, to, one};
        note() << "device " << file.owner << " offers " << one->name << " (" << entry.id << ") to device " << to
               << "\n";
        offered_by_id_[entry.id] = offered_.size();
        offered_.push_back(std::move(entry));
    }
}

// The growth of a device that ran all along, from its first report to the end.
void workload::check_growth() {
    for (int i = 0; i < device_count; ++i) {
        const device_slot& slot = slots_[i];
        if (!slot.spared || !slot.session || slot.reported_pid != slot.session->pid()) continue;
        const long rss = process_status_value(slot.reported_pid, "VmRSS");
        const long fds = open_descriptors(slot.reported_pid);
        note() << "device " << i << " (never killed) grew by " << (rss - slot.first_rss_kb) / 1024 << " MiB and "
               << fds - slot.first_fds << " descriptors\n";
        if (fds - slot.first_fds > 16)
            fail("device " + std::to_string(i) + " holds " + std::to_string(fds - slot.first_fds) +
                 " more descriptors");
        if (rss - slot.first_rss_kb > 64L * 1024)
            fail("device " + std::to_string(i) + " grew by " + std::to_string((rss - slot.first_rss_kb) / 1024) +
                 " MiB");
    }
}

void workload::report_figures(bool last) {
    std::ostringstream line;
    line << (last ? "figures at the end:" : "figures:");
    for (int i = 0; i < device_count; ++i) {
        device_slot& slot = slots_[i];
        line << " device " << i;
        if (!slot.session) {
            line << " down;";
            continue;
        }
        const int pid = slot.session->pid();
        const long rss = process_status_value(pid, "VmRSS");
        const long fds = open_descriptors(pid);
        if (slot.reported_pid != pid) {
            slot.reported_pid = pid;
            slot.first_rss_kb = rss;
            slot.first_fds = fds;
        }
        line << " pid " << pid << " rss " << rss / 1024 << " MiB fds " << fds
             << " (since its first report: " << std::showpos << (rss - slot.first_rss_kb) / 1024 << " MiB, "
             << fds - slot.first_fds << std::noshowpos << " fds)" << (slot.state == run_state::paused ? " paused" : "")
             << ";";
    }
    note() << line.str() << "\n";
}

bool workload::all_done() {
    bool done = true;
    try {
        std::unique_ptr<store_reader> stores[device_count];
        for (int i = 0; i < device_count; ++i) stores[i] = std::make_unique<store_reader>(database(i));
        for (const offered_file& file : offered_) {
            if (!finished_files_.count(file.id)) {
                if (arrived(stores[file.to]->text("select status from files_to_receive where id = ?", file.id))) {
                    finished_files_.insert(file.id);
                } else {
                    done = false;
                }
            }
            // The sender's interface shows it sent once the receiver told it so.
            if (!shown_sent_.count(file.id)) {
                if (stores[file.from]->text("select bytes_transferred = filesize from files_to_send where id = ?",
                                            file.id) == "1") {
                    shown_sent_.insert(file.id);
                } else {
                    done = false;
                }
            }
        }
        for (const typed_chat& chat : chats_) {
            if (!chat.confirmed || delivered_chats_.count(chat.id)) continue;
            if (stores[chat.from]->text("select sent from chats where id = ?", chat.id) == "1") {
                delivered_chats_.insert(chat.id);
            } else {
                done = false;
            }
        }
    } catch (const std::exception& e) {
        note() << "a store could not be read: " << e.what() << "\n";
        return false;
    }
    return done;
}

// What a user does for a file that ended in an error, or whose offer never arrived:
// "/resend" on the sender.
void workload::nudge() {
    std::set<std::string> resent;
    for (const offered_file& file : offered_) {
        if (finished_files_.count(file.id) || resent.count(file.chat_id)) continue;
        // A device that is down or paused is read or asked nothing (it may be starting).
        if (slots_[file.from].state != run_state::running || slots_[file.to].state != run_state::running) continue;
        std::string status;
        try {
            status = store_reader(database(file.to)).text("select status from files_to_receive where id = ?", file.id);
        } catch (const std::exception&) {
            continue;
        }
        if (arrived(status)) finished_files_.insert(file.id);
        if (status == "queued" || arrived(status)) continue;
        note() << "device " << file.from << " resends " << file.chat_id << " (" << file.source->name << " is \""
               << status << "\" on device " << file.to << ")\n";
        slots_[file.from].session->request("/resend", Json(Json::object{{"id", file.chat_id}}).dump());
        resent.insert(file.chat_id);
    }
}

void workload::check_chats_of(int receiver) {
    std::map<std::string, int> listed;
    for (int from = 0; from < device_count; ++from) {
        if (from == receiver) continue;
        for (std::uint64_t start = 0;; start += 20) {
            const Json reply = slots_[receiver].session->request(
                "/get_chats_for_peer",
                Json(Json::object{{"peer", slots_[from].id}, {"start", static_cast<double>(start)}, {"account", ""}})
                    .dump());
            const Json::array& page = reply["chats"].array_items();
            if (reply["status"].string_value() != "success") {
                fail("device " + std::to_string(receiver) + " cannot list its chats: " + reply.dump());
                break;
            }
            for (const Json& chat : page) {
                if (chat["type"].string_value() == "text" && chat["receiver"].string_value() == slots_[receiver].id)
                    ++listed[chat["id"].string_value()];
            }
            if (page.size() < 20) break;
        }
    }
    for (const typed_chat& chat : chats_) {
        if (chat.to != receiver) continue;
        const int times = listed.count(chat.id) ? listed[chat.id] : 0;
        if (times > 1) fail("chat " + chat.id + " is shown " + std::to_string(times) + " times");
        if (chat.confirmed && times == 0) fail("confirmed chat " + chat.id + " is lost");
        listed.erase(chat.id);
    }
    for (const auto& [id, times] : listed)
        fail("device " + std::to_string(receiver) + " shows a chat never typed: " + id);
}

void workload::final_checks() {
    for (const offered_file& file : offered_) {
        if (!finished_files_.count(file.id)) {
            std::string status = "?";
            try {
                status =
                    store_reader(database(file.to)).text("select status from files_to_receive where id = ?", file.id);
            } catch (const std::exception&) {}
            fail(file.source->name + " never completed on device " + std::to_string(file.to) + " (status \"" + status +
                 "\")");
            continue;
        }
        check_received_file(file.to, file.id, "completed");
        if (!shown_sent_.count(file.id)) {
            fail(file.source->name + " arrived but device " + std::to_string(file.from) + " does not show it sent");
        }
    }
    for (const typed_chat& chat : chats_) {
        if (chat.confirmed && !delivered_chats_.count(chat.id)) fail("confirmed chat " + chat.id + " was never sent");
    }
    for (int i = 0; i < device_count; ++i) check_chats_of(i);
    for (const auto& [id, times] : new_chat_events_) {
        if (times > 1) fail("chat " + id + " was told to the receiver's interface " + std::to_string(times) + " times");
    }
    note() << chats_.size() << " chats typed, " << offered_.size() << " files offered, " << reported_complete_.size()
           << " completions reported\n";
    if (settings_.report_every.count() > 0) {
        report_figures(true);
        check_growth();
    }
    for (int i = 0; i < device_count; ++i) {
        if (!slots_[i].session->quit()) fail("device " + std::to_string(i) + " did not quit at the end");
        slots_[i].session.reset();
        for (const std::string& name : temporary_files(downloads_folder(device(i)))) {
            fail("device " + std::to_string(i) + " left " + name);
        }
        try {
            const std::string integrity = store_reader(database(i)).integrity();
            if (integrity != "ok") fail("device " + std::to_string(i) + " store at the end: " + integrity);
        } catch (const std::exception& e) {
            fail("device " + std::to_string(i) + " store cannot be read at the end: " + e.what());
        }
    }
}

std::vector<std::string> workload::run() {
    make_files();
    draw_faults();
    for (int i = 0; i < device_count; ++i) {
        if (!start_device(i)) return faults_;
    }
    if (!meet(clock_type::now() + 60s)) return faults_;
    for (int i = 0; i < device_count; ++i) limit_rate(net_, device(i), settings_.rate);
    note() << "met; work begins\n";

    const auto start = clock_type::now();
    const auto end = start + settings_.active;
    std::size_t next_fault = 0;
    std::size_t next_file = 0;
    auto next_report = start + settings_.report_every;
    auto last_nudge = start;
    while (clock_type::now() < end) {
        const milliseconds elapsed = std::chrono::duration_cast<milliseconds>(clock_type::now() - start);
        bring_back(false);
        while (next_fault < schedule_.size() && schedule_[next_fault].at <= elapsed) apply(schedule_[next_fault++]);
        pump_all();
        std::vector<int> running;
        for (int i = 0; i < device_count; ++i) {
            if (slots_[i].state == run_state::running) running.push_back(i);
        }
        while (next_file < files_.size() && files_[next_file].offered) ++next_file;
        if (next_file < files_.size() && files_[next_file].offer_at <= elapsed) {
            source_file& file = files_[next_file];
            // A sender that is not running offers its file once it is back.
            if (slots_[file.owner].state == run_state::running) {
                offer(file, (file.owner + uniform(1, device_count - 1)) % device_count);
                ++next_file;
            }
        } else if (!running.empty() && uniform(0, 2) > 0) {
            const int from = running[uniform<std::size_t>(0, running.size() - 1)];
            type_chat(from, (from + uniform(1, device_count - 1)) % device_count, true);
        }
        if (settings_.report_every.count() > 0 && clock_type::now() >= next_report) {
            report_figures(false);
            next_report += settings_.report_every;
        }
        if (settings_.resend_every.count() > 0 && clock_type::now() - last_nudge > settings_.resend_every) {
            nudge();
            last_nudge = clock_type::now();
        }
        std::this_thread::sleep_for(uniform_ms(settings_.pace / 10, settings_.pace));
    }
    // Files whose sender was away at their moment are offered now.
    bring_back(true);
    for (; next_file < files_.size(); ++next_file) {
        source_file& file = files_[next_file];
        if (file.offered) continue;
        offer(file, (file.owner + uniform(1, device_count - 1)) % device_count);
    }
    note() << "work ends; every device runs until all is done\n";
    for (int i = 0; i < device_count; ++i) limit_rate(net_, device(i), "");
    meet(clock_type::now() + 60s);

    const auto deadline = clock_type::now() + settings_.settle;
    last_nudge = clock_type::now() - 7s;
    bool done = false;
    while (!(done = all_done()) && clock_type::now() < deadline) {
        pump_all();
        if (clock_type::now() - last_nudge > 15s) {
            nudge();
            last_nudge = clock_type::now();
        }
        std::this_thread::sleep_for(300ms);
    }
    pump_all();
    note() << (done ? "all done" : "settling ran out of time") << "\n";
    final_checks();
    return faults_;
}

}  // namespace

std::vector<std::string> run_fault_workload(const TestNetwork& net, const workload_settings& settings,
                                            std::ostream& log) {
    workload driver(net, settings, log);
    return driver.run();
}

}  // namespace vandrel::testing
