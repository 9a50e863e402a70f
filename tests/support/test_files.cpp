#include "tests/support/test_files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vandrel::testing {

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> names_starting_with(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::uint64_t> seeds_from_env(const char* name, const char* defaults) {
    std::vector<std::uint64_t> seeds;
    const char* text = std::getenv(name);
    std::istringstream in(text != nullptr ? text : defaults);
    for (std::uint64_t seed = 0; in >> seed;) seeds.push_back(seed);
    return seeds;
}

}  // namespace vandrel::testing
