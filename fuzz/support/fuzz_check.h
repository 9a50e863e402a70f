// What a target does when a property it checks does not hold: says which and aborts, so
// the fuzzer reports a crash and keeps the input.
#pragma once

#include <cstdlib>
#include <iostream>
#include <string>

namespace vandrel::fuzzing {

[[noreturn]] inline void property_broken(const std::string& what) {
    std::cerr << "property broken: " << what << "\n";
    std::abort();
}

}  // namespace vandrel::fuzzing
