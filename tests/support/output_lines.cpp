#include "tests/support/output_lines.h"

#include <gtest/gtest.h>

namespace vandrel::testing {

std::optional<std::string> OutputLines::take(const std::function<bool(const std::string&)>& wanted,
                                             std::chrono::milliseconds limit) {
    for (auto it = backlog_.begin(); it != backlog_.end(); ++it) {
        if (!wanted(*it)) continue;
        std::string line = *it;
        backlog_.erase(it);
        return line;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds(0)) return std::nullopt;
        auto line = child_.read_line(left);
        if (!line) return std::nullopt;
        if (wanted(*line)) return line;
        backlog_.push_back(std::move(*line));
    }
}

std::optional<std::string> OutputLines::reply_text(const std::string& endpoint) {
    const std::string prefix = "reply " + endpoint + " ";
    auto line = take([&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    if (!line) return std::nullopt;
    return line->substr(prefix.size());
}

Json OutputLines::reply(const std::string& endpoint) {
    auto text = reply_text(endpoint);
    EXPECT_TRUE(text) << "no reply to " << endpoint;
    return text ? parse(*text) : Json();
}

Json OutputLines::event(const std::string& action, std::chrono::milliseconds limit) {
    auto line = take(
        [&](const std::string& l) {
            return l.rfind("event ", 0) == 0 && parse(l.substr(6))["action"].string_value() == action;
        },
        limit);
    EXPECT_TRUE(line) << "no " << action << " event";
    return line ? parse(line->substr(6)) : Json();
}

Json OutputLines::parse(const std::string& text) {
    std::string err;
    return Json::parse(text, err);
}

}  // namespace vandrel::testing
