// A temporary folder for one test, removed with everything in it afterwards, and small
// helpers to lay out files inside it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace vandrel::testing {

class TestFolder {
public:
    TestFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "mesk-runtime-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = std::filesystem::canonical(pattern).string();
    }
    ~TestFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::string& path() const { return path_; }
    // Absolute path of a relative one inside the folder.
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

    // Writes a file (and its missing folders) inside the folder; returns its path.
    std::string write(const std::string& relative, const std::string& content) const {
        std::string full = *this / relative;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }
    std::string make_folder(const std::string& relative) const {
        std::string full = *this / relative;
        std::filesystem::create_directories(full);
        return full;
    }

private:
    std::string path_;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vandrel::testing
