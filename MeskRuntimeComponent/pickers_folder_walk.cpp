#include "MeskRuntimeComponent/pickers_folder_walk.h"

#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace vandrel {

namespace {

namespace fs = std::filesystem;

bool is_inside(const fs::path& path, const fs::path& folder) {
    const std::string p = path.string();
    const std::string f = folder.string();
    if (f == "/") return p.size() > 1 && p.front() == '/';
    return p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '/';
}

bool is_readable(const fs::path& path) { return access(path.c_str(), R_OK) == 0; }

class Walker {
public:
    Walker(fs::path root, const std::function<void(const WalkedFile&)>& visit)
        : root_(std::move(root)), visit_(visit) {}

    // False when the walk has to end (result_.failure says why).
    bool walk(const fs::path& folder, const std::string& relative) {
        std::vector<std::string> names;
        switch (list(folder, relative.empty(), names)) {
            case Listing::skipped:
                return true;
            case Listing::failed:
                return false;
            case Listing::listed:
                break;
        }
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            if (!visit_entry(folder / name, relative + name)) return false;
        }
        return true;
    }

    FolderWalkResult result() const { return result_; }

private:
    enum class Listing { listed, skipped, failed };

    // A subfolder that cannot be opened is skipped; the walked folder itself that cannot
    // be opened, or a listing that breaks off, is a failure.
    Listing list(const fs::path& folder, bool is_root, std::vector<std::string>& names) {
        std::error_code error;
        fs::directory_iterator it(folder, error);
        if (error) {
            if (!is_root) {
                ++result_.skipped;
                return Listing::skipped;
            }
            result_.failure = "cannot list " + folder.string() + ": " + error.message();
            return Listing::failed;
        }
        for (; it != fs::directory_iterator(); it.increment(error)) {
            if (error) break;
            names.push_back(it->path().filename().string());
        }
        if (error) {
            result_.failure = "listing " + folder.string() + " failed: " + error.message();
            return Listing::failed;
        }
        return Listing::listed;
    }

    bool visit_entry(const fs::path& path, const std::string& relative) {
        std::error_code error;
        const fs::file_status own = fs::symlink_status(path, error);
        if (error) return skip();
        if (fs::is_directory(own)) return walk(path, relative + "/");
        fs::path target = path;
        if (fs::is_symlink(own)) {
            target = fs::canonical(path, error);
            if (error || !is_inside(target, root_)) return skip();
        }
        const fs::file_status status = fs::status(target, error);
        if (error || !fs::is_regular_file(status) || !is_readable(target)) return skip();
        const std::uintmax_t size = fs::file_size(target, error);
        if (error) return skip();
        visit_(WalkedFile{path.string(), relative, static_cast<std::uint64_t>(size)});
        return true;
    }

    bool skip() {
        ++result_.skipped;
        return true;
    }

    const fs::path root_;
    const std::function<void(const WalkedFile&)>& visit_;
    FolderWalkResult result_;
};

}  // namespace

FolderWalkResult walk_folder(const std::string& folder, const std::function<void(const WalkedFile&)>& visit) {
    std::error_code error;
    const fs::path root = fs::canonical(folder, error);
    if (error) return FolderWalkResult{"cannot open " + folder + ": " + error.message(), 0};
    if (!fs::is_directory(root, error)) return FolderWalkResult{folder + " is not a folder", 0};
    Walker walker(root, visit);
    walker.walk(root, "");
    return walker.result();
}

}  // namespace vandrel
