#pragma once
// Small file and setting helpers the suites share: whole-file reads and writes, the
// names in a folder with a prefix, and seeds taken from the environment.

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::testing {

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

// Names in `folder` that begin with `prefix`, sorted.
std::vector<std::string> names_starting_with(const std::string& folder, const std::string& prefix);

// The seeds listed in the environment variable `name` (spaces between), else `defaults`.
std::vector<std::uint64_t> seeds_from_env(const char* name, const char* defaults);

}  // namespace vandrel::testing
