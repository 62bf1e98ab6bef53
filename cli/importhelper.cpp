#include "importhelper.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

extern char** environ;

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

// Closes what it holds when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) noexcept : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { Close(); }
    int Get() const noexcept { return fd_; }
    void Close() noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

// Starts the helper with these words; inputFd and outputFd (when not -1)
// become its standard input and output. Gives its process id.
Expected<pid_t> Spawn(const fs::path& helper, std::span<const std::string_view> args, int inputFd,
                      int outputFd) {
    std::vector<std::string> words{"kavel-import"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (inputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, inputFd, STDIN_FILENO);
    }
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    }
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return Error{"cannot run " + helper.string() + ": " + std::strerror(error)};
    }
    return pid;
}

// The helper's end: its exit status, or why there is none.
Expected<int> Wait(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return Error{std::string("waiting for kavel-import failed: ") + std::strerror(errno)};
        }
    }
    // Stopped by a pipe nobody reads any more: whatever stopped reading has
    // its own reason to give.
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) {
        return 1;
    }
    if (WIFSIGNALED(status)) {
        return Error{std::string("its helper kavel-import was killed by signal ") +
                     strsignal(WTERMSIG(status))};
    }
    // 127: the program was found but could not be started (its libraries did
    // not load, which a low memory limit does).
    if (WEXITSTATUS(status) == 127) {
        return Error{
            "its helper kavel-import could not start (exit status 127; a memory limit too low "
            "for its libraries?)"};
    }
    return WEXITSTATUS(status);
}

std::string ReadLine(int fd) {
    std::string line;
    std::uint8_t c = 0;
    while (line.size() < 4096) {
        auto got = ReadFully(fd, std::span(&c, 1), "kavel-import's pipe");
        if (!got || *got == 0 || c == '\n') {
            break;
        }
        line += static_cast<char>(c);
    }
    return line;
}

// The image after its header line, or the refusal the helper sent.
Expected<HelperImage> Receive(int fd) {
    const std::string line = ReadLine(fd);
    constexpr std::string_view kRefused = "KAVEL-REFUSED ";
    if (line.starts_with(kRefused)) {
        return Error{line.substr(kRefused.size())};
    }
    long long lines = -1;
    long long columns = -1;
    int colour = 0;
    int used = 0;
    if (std::sscanf(line.c_str(), "KAVEL-GRAY %lld %lld %d %n", &lines, &columns, &colour, &used) < 3 ||
        lines < 0 || columns < 0 || lines > INT32_MAX || columns > INT32_MAX) {
        return Error{"kavel-import gave no image"};
    }
    auto gray = AllocateByteMatrix(static_cast<int>(columns), static_cast<int>(lines));
    if (!gray) {
        return gray.error();
    }
    auto got = ReadFully(fd, gray->Bytes(), "kavel-import's pipe");
    if (!got) {
        return got.error();
    }
    if (*got < gray->PixelCount()) {
        return Error{"kavel-import stopped after " + std::to_string(*got) + " of " +
                     std::to_string(gray->PixelCount()) + " bytes"};
    }
    return HelperImage{std::move(*gray), line.substr(static_cast<std::size_t>(used)), colour != 0};
}

}  // namespace

Expected<std::size_t> ReadFully(int fd, std::span<std::uint8_t> into, std::string_view source) {
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t got = ::read(fd, into.data() + done, into.size() - done);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Error{"cannot read " + std::string(source) + ": " + std::strerror(errno)};
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

Expected<fs::path> FindImportHelper() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return Error{"cannot find its helper kavel-import: /proc/self/exe: " + ec.message()};
    }
    const fs::path folder = self.parent_path();
    const fs::path folders[] = {folder, (folder / ".." / "libexec" / "kavel").lexically_normal()};
    for (const auto& candidate : folders) {
        if (::access((candidate / "kavel-import").c_str(), X_OK) == 0) {
            return candidate / "kavel-import";
        }
    }
    return Error{"needs its helper kavel-import, which is in neither " + folders[0].string() + " nor " +
                 folders[1].string() + "; install the package kavel-import (apt install kavel-import)"};
}

int RunImportHelper(std::span<const std::string_view> args) {
    const auto helper = FindImportHelper();
    if (!helper) {
        std::cerr << "kavel-cli: import " << helper.error().message << '\n';
        return 1;
    }
    std::cout.flush();
    const auto pid = Spawn(*helper, args, -1, -1);
    const auto status = pid ? Wait(*pid) : Expected<int>(pid.error());
    if (!status) {
        std::cerr << "kavel-cli: import: " << status.error().message << '\n';
        return 1;
    }
    return *status;
}

Expected<HelperImage> ConvertWithHelper(const fs::path& file, int inputFd) {
    const auto helper = FindImportHelper();
    if (!helper) {
        return helper.error();
    }
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return Error{std::string("cannot make a pipe for kavel-import: ") + std::strerror(errno)};
    }
    Descriptor reading(ends[0]);
    Descriptor writing(ends[1]);
    const std::string name = file.string();
    std::vector<std::string_view> words{kConvertToPipeWord};
    if (!file.empty()) {
        words.push_back(name);
    }
    const auto pid = Spawn(*helper, words, inputFd, writing.Get());
    if (!pid) {
        return pid.error();
    }
    writing.Close();  // the pipe ends when the helper's end closes
    auto received = Receive(reading.Get());
    reading.Close();
    // A helper that could not start or was killed says more than the pipe.
    if (const auto status = Wait(*pid); !status) {
        return status.error();
    }
    return received;
}

Expected<HeldInput> HeldInput::FromStdin() {
    const int fd = ::memfd_create("kavel-standard-input", MFD_CLOEXEC);
    if (fd < 0) {
        return Error{std::string("cannot hold standard input: ") + std::strerror(errno)};
    }
    HeldInput held(fd, 0);
    std::vector<std::uint8_t> buffer(std::size_t{1} << 16);
    for (;;) {
        auto got = ReadFully(STDIN_FILENO, buffer, "standard input");
        if (!got) {
            return got.error();
        }
        for (std::size_t done = 0; done < *got;) {
            const ssize_t put = ::write(fd, buffer.data() + done, *got - done);
            if (put < 0 && errno != EINTR) {
                return Error{std::string("cannot hold standard input: ") + std::strerror(errno)};
            }
            done += static_cast<std::size_t>(std::max<ssize_t>(put, 0));
        }
        held.bytes_ += *got;
        if (*got < buffer.size()) {
            return held;
        }
    }
}

HeldInput::HeldInput(HeldInput&& other) noexcept : fd_(std::exchange(other.fd_, -1)), bytes_(other.bytes_) {}

HeldInput::~HeldInput() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

fs::path HeldInput::Path() const {
    return "/proc/self/fd/" + std::to_string(fd_);
}

int HeldInput::RewoundFd() const noexcept {
    ::lseek(fd_, 0, SEEK_SET);
    return fd_;
}

}  // namespace kavel::cli
