// The README's walk-through, run from the README's own lines on two devices A and B, so
// that the text cannot drift from the program. Its fenced blocks name a device: "sh A"
// lines run in a shell on A ("./dev run" starts mesk there, "kill -KILL $(pidof mesk)"
// kills it; any other line must succeed), "mesk A" lines are typed into A's mesk, and
// "shows A" lines are what A's mesk must print: "event core_started", or "event JSON" /
// "reply ENDPOINT JSON" where JSON names only the keys that matter, each line after the
// one shown before it. In those lines ME is
// the device's own id, PEER the other's, /home/me its home; "..." is any value, and an
// upper-case word in a value is learnt where it first appears and stands for that value
// after. A reply that does not match yet is asked for again, as the README tells a
// reader to do.
#include <gtest/gtest.h>

#include <signal.h>

#include <array>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "core_lib/foundation/json.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/network_fixture.h"
#include "tests/e2e/transfer_harness.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

struct block {
    std::string kind;  // "sh", "mesk" or "shows"
    int device = 0;    // 0 for A, 1 for B
    std::vector<std::string> lines;
    int line_number = 0;  // of the opening fence, for messages
};

// The README's blocks of the walk-through, in their order.
std::vector<block> walk_blocks(const std::string& readme_path) {
    std::ifstream in(readme_path);
    const std::regex opening(R"(^```(sh|mesk|shows) ([AB])\s*$)");
    std::vector<block> blocks;
    std::string line;
    std::optional<block> open;
    for (int number = 1; std::getline(in, line); ++number) {
        std::smatch m;
        if (open) {
            if (line.rfind("```", 0) == 0) {
                blocks.push_back(std::move(*open));
                open.reset();
            } else if (!line.empty()) {
                open->lines.push_back(line);
            }
        } else if (std::regex_match(line, m, opening)) {
            open = block{m[1], m[2] == "A" ? 0 : 1, {}, number};
        }
    }
    return blocks;
}

using bindings = std::map<std::string, std::string>;

bool is_placeholder(const std::string& text) { return std::regex_match(text, std::regex("[A-Z][A-Z0-9_]*")); }

// Whether the actual value has what the pattern names; learns the pattern's new words.
bool matches(const Json& pattern, const Json& actual, bindings& learnt) {
    if (pattern.is_string()) {
        const std::string& want = pattern.string_value();
        if (want == "...") return true;
        if (is_placeholder(want) && !learnt.count(want)) {
            if (!actual.is_string() || actual.string_value().empty()) return false;
            learnt[want] = actual.string_value();
            return true;
        }
        return actual.is_string() && actual.string_value() == want;
    }
    if (pattern.is_object()) {
        if (!actual.is_object()) return false;
        for (const auto& [key, value] : pattern.object_items()) {
            if (!matches(value, actual[key], learnt)) return false;
        }
        return true;
    }
    if (pattern.is_array()) {
        if (!actual.is_array()) return false;
        for (const Json& wanted : pattern.array_items()) {
            bool found = false;
            for (const Json& item : actual.array_items()) {
                bindings trial = learnt;
                if (matches(wanted, item, trial)) {
                    learnt = std::move(trial);
                    found = true;
                    break;
                }
            }
            if (!found) return false;
        }
        return true;
    }
    return pattern == actual;
}

class ReadmeWalk : public NetworkFixture<2> {
protected:
    void SetUp() override {
        NetworkFixture<2>::SetUp();
        if (IsSkipped()) return;
        // A home network's pace, so that a transfer is still under way when the README
        // pauses, stops or kills it.
        for (int i = 0; i < 2; ++i) limit_rate(*net_, net_->device(i), "20mbit");
    }

    std::string home(int device) const { return net_->device(device).root + "/home"; }

    // The line as it is meant on the device: its home, its own and its peer's ids, and
    // every value learnt so far.
    std::string on_device(std::string line, int device) {
        line = std::regex_replace(line, std::regex("/home/me"), home(device));
        std::map<std::string, std::string> words = learnt_;
        if (!ids_[device].empty()) words["ME"] = ids_[device];
        if (!ids_[1 - device].empty()) words["PEER"] = ids_[1 - device];
        for (const auto& [word, value] : words)
            line = std::regex_replace(line, std::regex("\\b" + word + "\\b"), value);
        return line;
    }

    void run_shell(int device, const std::string& line) {
        if (line == "./dev run") {
            ASSERT_FALSE(mesk_[device]) << "mesk runs already";
            mesk_[device] = std::make_unique<MeskSession>(net_->start(net_->device(device), {MESK_BINARY}));
            return;
        }
        if (line == "kill -KILL $(pidof mesk)") {
            ASSERT_TRUE(mesk_[device]) << "no mesk to kill";
            mesk_[device]->process().send_signal(SIGKILL);
            ASSERT_TRUE(mesk_[device]->process().wait_exit(20s));
            mesk_[device].reset();
            return;
        }
        int status = -1;
        const std::string out = net_->run(net_->device(device), {"/bin/bash", "-c", on_device(line, device)}, &status);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << line << "\n" << out;
    }

    MeskSession& session(int device) {
        if (!mesk_[device]) throw std::runtime_error("mesk does not run on that device");
        return *mesk_[device];
    }

    void type(int device, const std::string& line) {
        const std::string typed = on_device(line, device);
        const auto space = typed.find(' ');
        last_request_[{device, typed.substr(0, space)}] = typed;
        session(device).process().write_line(typed);
    }

    // The ids, once the device has started: every line after may name them.
    void learn_id(int device) {
        if (ids_[device].empty()) ids_[device] = session(device).id();
    }

    // Waits for the shown line; a reply that does not match yet is asked for again.
    void expect_shown(int device, const std::string& shown) {
        MeskSession& mesk = session(device);
        if (shown == "event core_started") {
            ASSERT_TRUE(mesk.take_after([](const std::string& l) { return l == "event core_started"; }, 60s));
            learn_id(device);
            return;
        }
        const std::string expanded = on_device(shown, device);
        std::string prefix;
        std::string pattern_text;
        if (expanded.rfind("event ", 0) == 0) {
            prefix = "event ";
            pattern_text = expanded.substr(6);
        } else if (expanded.rfind("reply ", 0) == 0) {
            const auto space = expanded.find(' ', 6);
            ASSERT_NE(space, std::string::npos) << shown;
            prefix = expanded.substr(0, space + 1);
            pattern_text = expanded.substr(space + 1);
        } else {
            FAIL() << "a shown line the walk cannot read: " << shown;
        }
        std::string error;
        const Json pattern = Json::parse(pattern_text, error);
        ASSERT_TRUE(error.empty()) << "not JSON in the README: " << shown;
        const bool is_reply = prefix != "event ";
        const auto deadline = clock_type::now() + (is_reply ? 60s : 120s);
        while (clock_type::now() < deadline) {
            bindings trial = learnt_;
            const auto line = mesk.take_after(
                [&](const std::string& l) {
                    if (l.rfind(prefix, 0) != 0) return false;
                    bindings attempt = learnt_;
                    if (!matches(pattern, parse_json(l.substr(prefix.size())), attempt)) return false;
                    trial = std::move(attempt);
                    return true;
                },
                is_reply ? 2s : std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()));
            if (line) {
                learnt_ = std::move(trial);
                return;
            }
            if (!is_reply) break;
            const auto again = last_request_.find({device, prefix.substr(6, prefix.size() - 7)});
            if (again == last_request_.end()) break;
            mesk.process().write_line(again->second);
        }
        // What it showed instead, since the line before.
        std::string seen;
        for (int i = 0; i < 40; ++i) {
            const auto line = mesk.take_line([](const std::string&) { return true; }, 100ms);
            if (!line) break;
            seen += "  " + line->substr(0, 300) + "\n";
        }
        FAIL() << "device "
               << "AB"[device] << " did not show: " << shown << "\nit showed:\n"
               << seen;
    }

    void run(const block& b) {
        SCOPED_TRACE("README.md:" + std::to_string(b.line_number) + " (" + b.kind + " " + "AB"[b.device] + ")");
        for (const std::string& line : b.lines) {
            if (b.kind == "sh") {
                run_shell(b.device, line);
            } else if (b.kind == "mesk") {
                type(b.device, line);
            } else {
                expect_shown(b.device, line);
            }
            if (HasFatalFailure()) return;
        }
    }

    std::array<std::unique_ptr<MeskSession>, 2> mesk_;
    std::array<std::string, 2> ids_;
    bindings learnt_;
    std::map<std::pair<int, std::string>, std::string> last_request_;  // (device, endpoint) -> line
};

TEST_F(ReadmeWalk, TheMainTaskRunsAsTheReadmeTellsIt) {
    const std::vector<block> blocks = walk_blocks(MESK_README);
    ASSERT_FALSE(blocks.empty()) << "no walk-through in " << MESK_README;
    for (const block& b : blocks) {
        run(b);
        if (HasFatalFailure()) return;
    }
    for (auto& mesk : mesk_) {
        if (mesk) {
            EXPECT_TRUE(mesk->quit());
        }
    }
}

}  // namespace
