#include "core_lib/foundation/named_thread.h"

#include <pthread.h>

#include <utility>

#include "core_lib/foundation/run_logged.h"

namespace vandrel {

std::string numbered_thread_name(const std::string& base, unsigned number) {
    const std::string suffix = "-" + std::to_string(number);
    const std::size_t room = suffix.size() < thread_name_limit ? thread_name_limit - suffix.size() : 0;
    return base.substr(0, room) + suffix;
}

std::thread start_thread(std::string name, std::function<void()> body) {
    return std::thread([name = std::move(name), body = std::move(body)] {
        // A name the kernel refuses leaves the inherited one; the thread runs all the same.
        pthread_setname_np(pthread_self(), name.substr(0, thread_name_limit).c_str());
        run_logged(name, body);
    });
}

}  // namespace vandrel
