#include "MeskRuntimeComponent/program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <thread>
#include <utility>

extern char** environ;

namespace vandrel {

namespace {

constexpr std::size_t max_output_bytes = 1 << 20;
constexpr std::size_t max_error_bytes = 64 << 10;
constexpr auto check_interval = std::chrono::milliseconds(20);

// Owns one descriptor.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Descriptor read_end;
    Descriptor write_end;

    bool open() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return false;
        read_end.reset(ends[0]);
        write_end.reset(ends[1]);
        return true;
    }
};

// This process's environment with the given "NAME=value" entries set over it.
std::vector<std::string> environment_with(const std::vector<std::string>& overrides) {
    std::set<std::string> names;
    for (const auto& entry : overrides) names.insert(entry.substr(0, entry.find('=')));
    std::vector<std::string> made;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text = *entry;
        if (names.count(text.substr(0, text.find('='))) == 0) made.push_back(std::move(text));
    }
    made.insert(made.end(), overrides.begin(), overrides.end());
    return made;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts the program with the three descriptors as its standard ones; -1 when it could
// not be started.
pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, int in, int out, int err) {
    if (argv.empty() || argv.front().empty() || argv.front().front() != '/') return -1;
    auto args = pointers_to(argv);
    auto envp = pointers_to(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal_number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, signal_number);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    pid_t pid = -1;
    const int failed = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

int exit_code_of(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Reaps the program; kills its process group first when it has not ended by the deadline
// or when `stop` says so. True when it ended on its own.
bool reap(pid_t pid, std::chrono::steady_clock::time_point deadline, const std::atomic<bool>* stop, int& status) {
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return true;
        if (done < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline || (stop && stop->load())) break;
        std::this_thread::sleep_for(check_interval);
    }
    kill(-pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return false;
}

// Appends what the descriptor has to `into` (up to `limit` bytes kept); false at its end.
bool read_some(int fd, std::string& into, std::size_t limit) {
    char buffer[16384];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    const std::size_t room = into.size() < limit ? limit - into.size() : 0;
    into.append(buffer, std::min(room, static_cast<std::size_t>(n)));
    return true;
}

}  // namespace

ProgramResult run_program(const ProgramRun& run) {
    ProgramResult result;
    Pipe out;
    Pipe err;
    Descriptor nothing_in(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!out.open() || !err.open() || nothing_in.get() < 0) return result;
    const pid_t pid =
        spawn(run.argv, environment_with(run.environment), nothing_in.get(), out.write_end.get(), err.write_end.get());
    if (pid < 0) return result;
    out.write_end.reset();
    err.write_end.reset();

    const auto deadline = std::chrono::steady_clock::now() + run.time_limit;
    bool cut_short = false;
    pollfd watched[2] = {{out.read_end.get(), POLLIN, 0}, {err.read_end.get(), POLLIN, 0}};
    while (watched[0].fd >= 0 || watched[1].fd >= 0) {
        if (std::chrono::steady_clock::now() >= deadline || (run.cancel && run.cancel->load())) {
            cut_short = true;
            break;
        }
        const int ready = poll(watched, 2, static_cast<int>(check_interval.count()) * 5);
        if (ready < 0 && errno != EINTR) {
            cut_short = true;
            break;
        }
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (watched[i].fd < 0 || watched[i].revents == 0) continue;
            std::string& into = i == 0 ? result.out : result.err;
            if (!read_some(watched[i].fd, into, i == 0 ? max_output_bytes : max_error_bytes)) watched[i].fd = -1;
        }
    }
    int status = 0;
    const bool ended = reap(pid, cut_short ? std::chrono::steady_clock::now() : deadline, run.cancel, status);
    result.ended = ended && !cut_short;
    if (result.ended) result.exit_code = exit_code_of(status);
    return result;
}

HeldProgram::HeldProgram(const std::vector<std::string>& argv, std::chrono::milliseconds end_limit)
    : end_limit_(end_limit) {
    Pipe input;
    Descriptor nothing_out(open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (!input.open() || nothing_out.get() < 0) return;
    pid_ = spawn(argv, environment_with({}), input.read_end.get(), nothing_out.get(), 2);
    if (pid_ > 0) input_ = input.write_end.release();
}

HeldProgram::~HeldProgram() {
    if (input_ >= 0) close(input_);
    if (pid_ <= 0 || reaped_) return;
    int status = 0;
    reap(pid_, std::chrono::steady_clock::now() + end_limit_, nullptr, status);
}

bool HeldProgram::running() {
    if (pid_ <= 0 || reaped_) return false;
    int status = 0;
    pid_t done;
    while ((done = waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {}
    if (done == pid_) reaped_ = true;
    return !reaped_;
}

}  // namespace vandrel
