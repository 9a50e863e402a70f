// Mounts that put a test's files on a file system of a chosen kind: read-only, or small
// and soon full. Root only; each says why it cannot be made (mount_error()), and
// unmounts when it goes out of scope. Tests that run in-process call
// private_mount_namespace() first, so that nothing they mount is seen outside them.
#pragma once

#include <cstdint>
#include <string>

namespace vandrel::testing {

// Moves the calling thread (and what it starts from then on) into a mount namespace of
// its own whose mounts propagate nowhere; "" when done, else why not.
std::string private_mount_namespace();

class test_mount {
public:
    // `folder` again, read-only.
    static test_mount read_only(const std::string& folder);
    // A tmpfs of `bytes` over `folder` (which must exist; its files are hidden meanwhile).
    static test_mount tmpfs(const std::string& folder, std::uint64_t bytes);

    test_mount(test_mount&& other) noexcept;
    test_mount& operator=(test_mount&&) = delete;
    test_mount(const test_mount&) = delete;
    ~test_mount();

    // "" when the mount is in place.
    const std::string& mount_error() const { return error_; }
    void unmount();
    // A tmpfs made larger or smaller in place, its files kept; "" when done, else why not.
    std::string resize(std::uint64_t bytes);

private:
    test_mount() = default;
    std::string folder_;
    std::string error_;
    bool mounted_ = false;
};

}  // namespace vandrel::testing
