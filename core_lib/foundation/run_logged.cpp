#include "core_lib/foundation/run_logged.h"

#include <exception>
#include <iostream>

namespace vandrel {

void run_logged(const std::string& name, const std::function<void()>& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        std::cerr << name << " failed: " << e.what() << "\n";
    } catch (...) {
        std::cerr << name << " failed: unknown error\n";
    }
}

}  // namespace vandrel
