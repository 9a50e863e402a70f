#include "MeskRuntimeComponent/device_info.h"

#include <fstream>
#include <sstream>

#include "core_lib/platform/platform_services.h"

namespace vandrel {

namespace {

std::string read_small_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text(4096, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

}  // namespace

std::string clean_model_field(const std::string& field) {
    std::string out;
    for (const char c : field) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '|' || byte < 0x20 || byte == 0x7F) continue;
        out += c;
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::string format_device_model(const std::string& os, const std::string& model, const std::string& manufacturer) {
    return clean_model_field(os) + "/" + clean_model_field(model) + " - " + clean_model_field(manufacturer);
}

std::string read_device_model(const std::string& system_root) {
    const std::string root = system_root.empty() || system_root.back() != '/' ? system_root + "/" : system_root;
    std::string model = clean_model_field(read_small_file(root + "sys/class/dmi/id/product_name"));
    std::string manufacturer = clean_model_field(read_small_file(root + "sys/class/dmi/id/sys_vendor"));
    if (model.empty()) model = clean_model_field(read_small_file(root + "proc/device-tree/model"));
    return format_device_model(platform_name(), model, manufacturer);
}

std::string DeviceModelCache::get() {
    std::call_once(once_, [this] { model_ = read_device_model(system_root_); });
    return model_;
}

}  // namespace vandrel
