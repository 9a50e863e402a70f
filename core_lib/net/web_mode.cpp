#include "core_lib/net/web_mode.h"

#include <chrono>
#include <exception>
#include <functional>
#include <iostream>
#include <mutex>
#include <thread>

namespace vandrel {

namespace {

std::mutex web_mode_mutex;
std::string web_mode_state = "unknown";  // guarded by web_mode_mutex
std::uint64_t web_mode_thread = 0;       // guarded by web_mode_mutex
std::uint64_t last_generation = 0;       // guarded by web_mode_mutex

constexpr auto poll_interval = std::chrono::milliseconds(50);

// Detached work never lets an exception end the process.
void start_background_thread(const char* name, std::function<void()> body) {
    std::thread([name, body = std::move(body)] {
        try {
            body();
        } catch (const std::exception& e) {
            std::cerr << name << ": " << e.what() << "\n";
        } catch (...) {
            std::cerr << name << ": unknown error\n";
        }
    }).detach();
}

bool keeps_running(std::uint64_t generation) {
    std::lock_guard<std::mutex> lock(web_mode_mutex);
    return web_mode_state == "1" && web_mode_thread == generation;
}

}  // namespace

std::string get_web_mode_state() {
    std::lock_guard<std::mutex> lock(web_mode_mutex);
    return web_mode_state;
}

void set_web_mode_state(std::string state) {
    std::lock_guard<std::mutex> lock(web_mode_mutex);
    web_mode_state = std::move(state);
}

std::uint64_t get_web_mode_thread() {
    std::lock_guard<std::mutex> lock(web_mode_mutex);
    return web_mode_thread;
}

void clear_web_mode_thread() {
    std::lock_guard<std::mutex> lock(web_mode_mutex);
    web_mode_thread = 0;
}

void start_web_mode() {
    std::cerr << "starting web mode\n";
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(web_mode_mutex);
        if (web_mode_thread != 0) return;
        generation = ++last_generation;
        web_mode_thread = generation;
    }
    try {
        start_background_thread("web mode server", [generation] { run_web_mode_server(generation); });
    } catch (...) {
        std::lock_guard<std::mutex> lock(web_mode_mutex);
        if (web_mode_thread == generation) web_mode_thread = 0;
        throw;
    }
}

void run_web_mode_server(std::uint64_t generation) {
    while (keeps_running(generation)) std::this_thread::sleep_for(poll_interval);
    std::lock_guard<std::mutex> lock(web_mode_mutex);
    if (web_mode_thread == generation) web_mode_thread = 0;
}

}  // namespace vandrel
