// A fixture on a network of `Devices` namespaces made before each test (net_), and
// skipped where namespaces cannot be made here. A fixture that does more first calls
// NetworkFixture::SetUp() and returns when IsSkipped().
#pragma once

#include <gtest/gtest.h>

#include <signal.h>

#include <cstddef>
#include <memory>
#include <string>

#include "tests/e2e/netns_harness.h"

namespace vandrel::testing {

template <std::size_t Devices>
class NetworkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        const std::string why = TestNetwork::unavailable_reason();
        if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
        net_ = std::make_unique<TestNetwork>(Devices);
    }

    std::unique_ptr<TestNetwork> net_;
};

}  // namespace vandrel::testing
