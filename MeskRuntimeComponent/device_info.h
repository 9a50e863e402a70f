// The device model text (sys_info): "<os>/<model> - <manufacturer>" with the os word
// "linux", the model and maker from /sys/class/dmi/id (product_name, sys_vendor), else
// the model from /proc/device-tree/model. "|" and control characters are removed, so the
// text can travel inside the "|"-separated announce datagram.
#pragma once

#include <mutex>
#include <string>

namespace vandrel {

// One field as it goes into the text: "|" and control bytes removed, outer blanks trimmed.
std::string clean_model_field(const std::string& field);

std::string format_device_model(const std::string& os, const std::string& model, const std::string& manufacturer);

// Reads the model under `system_root` ("/" in production; a temporary folder in tests).
std::string read_device_model(const std::string& system_root);

// Reads the model once and keeps it; thread-safe.
class DeviceModelCache {
public:
    explicit DeviceModelCache(std::string system_root) : system_root_(std::move(system_root)) {}
    std::string get();

private:
    const std::string system_root_;
    std::once_flag once_;
    std::string model_;
};

}  // namespace vandrel
