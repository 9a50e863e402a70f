#include "core_lib/foundation/run_logged.h"

#include <exception>
#include <iostream>

namespace vandrel {

bool run_logged(const std::string& name, const std::function<void()>& body) noexcept {
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        std::cerr << name << " failed: " << e.what() << "\n";
    } catch (...) {
        std::cerr << name << " failed: unknown error\n";
    }
    return false;
}

}  // namespace vandrel
