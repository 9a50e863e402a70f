#include "core_lib/foundation/named_thread.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <stdexcept>
#include <vector>

namespace vandrel {
namespace {

TEST(NamedThread, NumberedNamesKeepTheNumberWithinTheLimit) {
    struct row {
        std::string base;
        unsigned number;
        std::string name;
    };
    const std::vector<row> rows = {
        {"mesk-rest-io", 2, "mesk-rest-io-2"},
        {"mesk-rest-io", 12, "mesk-rest-io-12"},
        {"mesk-thumbnails-io", 3, "mesk-thumbnai-3"},
        {"mesk-thumbnails-io", 123, "mesk-thumbn-123"},
    };
    for (const row& r : rows) EXPECT_EQ(numbered_thread_name(r.base, r.number), r.name) << r.base;
}

TEST(NamedThread, TheThreadCarriesItsNameAndNothingItThrowsEscapes) {
    struct row {
        std::string given;
        std::string seen;
    };
    const std::vector<row> rows = {{"mesk-resend", "mesk-resend"}, {"mesk-a-very-long-name", "mesk-a-very-lon"}};
    for (const row& r : rows) {
        std::string seen;
        std::thread t = start_thread(r.given, [&seen] {
            char name[32] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            seen = name;
            throw std::runtime_error("logged, not fatal");
        });
        t.join();
        EXPECT_EQ(seen, r.seen);
    }
}

}  // namespace
}  // namespace vandrel
