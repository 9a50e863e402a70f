// The names the store burst (tests/store/store_burst_main.cpp) writes under, shared by
// the program and the test that kills it: write N is a text chat and a download of
// three files from one sender.
#pragma once

#include <array>
#include <string>

namespace vandrel::testing {

inline constexpr const char* burst_sender = "burst-peer";

struct burst_names {
    explicit burst_names(long n)
        : chat("chat-" + std::to_string(n)),
          text("burst text " + std::to_string(n)),
          download("download-" + std::to_string(n)),
          files{download + "-a", download + "-b", download + "-c"} {}
    std::string chat;
    std::string text;
    std::string download;
    std::array<std::string, 3> files;
};

}  // namespace vandrel::testing
