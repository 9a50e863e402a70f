#include "MeskRuntimeComponent/program_launcher.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

#include "core_lib/foundation/text_utils.h"

namespace vandrel {

namespace {

// Owns one descriptor.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The program's standard input: an anonymous in-memory file holding `input`, so that
// handing over the text never blocks on a pipe.
int input_descriptor(const std::string& input) {
    if (input.empty()) return open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int fd = memfd_create("mesk-input", MFD_CLOEXEC);
    if (fd < 0) return -1;
    std::size_t written = 0;
    while (written < input.size()) {
        const ssize_t n = write(fd, input.data() + written, input.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            return -1;
        }
        written += static_cast<std::size_t>(n);
    }
    if (lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::string find_program_in_path(const std::string& name, const std::string& path_variable) {
    if (name.empty() || name.find('/') != std::string::npos) return {};
    for (const auto& folder : split(path_variable, ":")) {
        if (folder.empty() || folder.front() != '/') continue;
        std::string candidate = folder;
        if (folder.back() != '/') candidate += '/';
        candidate += name;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

bool start_detached(const std::vector<std::string>& argv, const std::string& input) {
    if (argv.empty() || argv.front().empty() || argv.front().front() != '/') return false;
    // Everything the children need is made before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    FileDescriptor in(input_descriptor(input));
    if (in.get() < 0) return false;
    // The program starts with no blocked signals and SIGPIPE at its default, whatever
    // this process does with them.
    sigset_t no_signals;
    sigemptyset(&no_signals);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;

    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        if (setsid() < 0) _exit(127);
        const pid_t grandchild = fork();
        if (grandchild != 0) _exit(grandchild < 0 ? 127 : 0);
        sigaction(SIGPIPE, &default_action, nullptr);
        sigprocmask(SIG_SETMASK, &no_signals, nullptr);
        if (dup2(in.get(), 0) < 0 || dup2(2, 1) < 0) _exit(127);
        close_range(3, ~0U, 0);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ProgramLauncher system_program_launcher(const std::string& path_variable) {
    ProgramLauncher launcher;
    launcher.find_program = [path_variable](const std::string& name) {
        return find_program_in_path(name, path_variable);
    };
    launcher.start_program = [](const std::vector<std::string>& argv, const std::string& input) {
        return start_detached(argv, input);
    };
    return launcher;
}

}  // namespace vandrel
