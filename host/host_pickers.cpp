#include "host/host_pickers.h"

#include <algorithm>
#include <utility>

namespace vandrel::host {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ends_with_ignoring_case(const std::string& text, const std::string& ending) {
    if (ending.size() > text.size()) return false;
    return std::equal(ending.begin(), ending.end(), text.end() - static_cast<std::ptrdiff_t>(ending.size()),
                      [](char a, char b) { return lower(a) == lower(b); });
}

bool matches_filters(const std::string& file, const std::vector<std::string>& filters) {
    if (filters.empty()) return true;
    return std::any_of(filters.begin(), filters.end(), [&](const std::string& filter) {
        return filter == "*" || ends_with_ignoring_case(file, filter);
    });
}

}  // namespace

HostPickers::HostPickers(std::string fallback_folder) : fallback_folder_(std::move(fallback_folder)) {}

void HostPickers::answer(dialog kind, std::vector<std::string> paths) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[kind].push_back(std::move(paths));
}

bool HostPickers::take(dialog kind, std::vector<std::string>& paths) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& queue = answers_[kind];
    if (queue.empty()) return false;
    paths = std::move(queue.front());
    queue.pop_front();
    return true;
}

void HostPickers::pick_a_folder(dialog kind, const std::function<void(const std::string& folder)>& done) {
    std::vector<std::string> paths;
    if (!take(kind, paths)) {
        done(fallback_folder_);
        return;
    }
    done(paths.empty() ? std::string() : paths.front());
}

void HostPickers::pick_folder(std::function<void(const std::string& folder)> done) {
    pick_a_folder(dialog::folder_to_send, done);
}

void HostPickers::pick_accepted_folder(const std::function<void(const std::string& folder)>& done) {
    pick_a_folder(dialog::accepted_folder, done);
}

void HostPickers::pick_others_folder(const std::function<void(const std::string& folder)>& done) {
    pick_a_folder(dialog::others_folder, done);
}

void HostPickers::pick_files(PickerStart, std::vector<std::string> filters, bool multiple,
                             std::function<void(const std::vector<std::string>& files)> done) {
    std::vector<std::string> files;
    take(multiple ? dialog::files : dialog::image, files);
    std::erase_if(files, [&](const std::string& file) { return !matches_filters(file, filters); });
    if (!multiple && files.size() > 1) files.resize(1);
    done(files);
}

}  // namespace vandrel::host
