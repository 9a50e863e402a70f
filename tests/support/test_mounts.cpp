#include "tests/support/test_mounts.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vandrel::testing {

namespace {

std::string failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

std::string private_mount_namespace() {
    if (::geteuid() != 0) return "mounts need root";
    if (::unshare(CLONE_NEWNS) != 0) return failed("unshare(CLONE_NEWNS)");
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failed("making / private");
    return "";
}

test_mount test_mount::read_only(const std::string& folder) {
    test_mount made;
    made.folder_ = folder;
    if (::geteuid() != 0) {
        made.error_ = "mounts need root";
    } else if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        made.error_ = failed("bind mount");
    } else {
        made.mounted_ = true;
        if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            made.error_ = failed("read-only remount");
        }
    }
    return made;
}

test_mount test_mount::tmpfs(const std::string& folder, std::uint64_t bytes) {
    test_mount made;
    made.folder_ = folder;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::geteuid() != 0) {
        made.error_ = "mounts need root";
    } else if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        made.error_ = failed("tmpfs mount");
    } else {
        made.mounted_ = true;
    }
    return made;
}

test_mount::test_mount(test_mount&& other) noexcept
    : folder_(std::move(other.folder_)),
      error_(std::move(other.error_)),
      mounted_(std::exchange(other.mounted_, false)) {}

test_mount::~test_mount() { unmount(); }

std::string test_mount::resize(std::uint64_t bytes) {
    if (!mounted_) return "not mounted";
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT | MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        return failed("tmpfs remount");
    return "";
}

void test_mount::unmount() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    mounted_ = false;
}

}  // namespace vandrel::testing
