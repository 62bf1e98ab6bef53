// Running kavel-cli as a user would: a fresh folder per test, the program
// started with its words, its exit status, stdout and stderr captured.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "file_size_limit.h"

namespace kavel::clitest {

namespace fs = std::filesystem;

// AddressSanitizer and ThreadSanitizer reserve terabytes of address space, so
// a limit on it cannot be used in those builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kAddressSpaceCanBeLimited = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kAddressSpaceCanBeLimited = false;
#else
inline constexpr bool kAddressSpaceCanBeLimited = true;
#endif
#else
inline constexpr bool kAddressSpaceCanBeLimited = true;
#endif

using Bytes = std::vector<std::uint8_t>;

struct RunResult {
    int ExitCode = -1;  // -1 when the program did not end normally
    std::string Out;
    std::string Err;
};

struct RunOptions {
    std::optional<rlim_t> FileSizeLimit;      // RLIMIT_FSIZE for the child
    std::optional<rlim_t> AddressSpaceLimit;  // RLIMIT_AS for the child
    bool StderrOnTerminal = false;            // stderr on a pseudo terminal
    std::optional<std::string> Stdin;         // the bytes on standard input (default: none)
    std::optional<fs::path> Program;          // another copy of kavel-cli (default: the one built)
    std::vector<std::pair<std::string, std::string>> Environment;  // set for the child only
};

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline Bytes ReadBytes(const fs::path& path) {
    const std::string text = ReadText(path);
    return Bytes(text.begin(), text.end());
}

inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Lines joined the way the program writes them to a terminal or a file.
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (const char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("kavel-cli-") + info->test_suite_name() + "-" + info->name() + "-" +
                           std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        dir_ = fs::temp_directory_path() / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path Path(const std::string& name) const { return dir_ / name; }
    std::string P(const std::string& name) const { return Path(name).string(); }

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    RunResult Run(const std::vector<std::string>& words, const RunOptions& options = {}) const {
        std::vector<std::string> all{options.Program ? options.Program->string() : KAVEL_CLI_PATH};
        all.insert(all.end(), words.begin(), words.end());
        std::vector<char*> argv;
        for (auto& word : all) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);

        const std::string outName = (dir_ / ".stdout").string();
        const std::string errName = (dir_ / ".stderr").string();
        const std::string inName = (dir_ / ".stdin").string();
        if (options.Stdin) {
            WriteText(inName, *options.Stdin);
        }
        int master = -1;
        int slave = -1;
        if (options.StderrOnTerminal && openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "no pseudo terminal";
            return {};
        }

        const pid_t child = fork();
        if (child == 0) {
            const int out = open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err =
                options.StderrOnTerminal ? slave : open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int none = open(options.Stdin ? inName.c_str() : "/dev/null", O_RDONLY);
            if (out < 0 || err < 0 || none < 0) {
                _exit(127);
            }
            dup2(none, 0);
            dup2(out, 1);
            dup2(err, 2);
            if (options.FileSizeLimit) {
                // SIGXFSZ is left as it is: the program itself must survive it.
                // Set for good, not through the restoring guard: the child execs
                // and the program must inherit the lowered limit.
                rlimit limit{};
                getrlimit(RLIMIT_FSIZE, &limit);
                limit.rlim_cur = *options.FileSizeLimit;
                if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                    _exit(126);
                }
            }
            if (options.AddressSpaceLimit) {
                const rlimit limit{*options.AddressSpaceLimit, *options.AddressSpaceLimit};
                setrlimit(RLIMIT_AS, &limit);
            }
            for (const auto& [name, value] : options.Environment) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        RunResult result;
        int status = 0;
        waitpid(child, &status, 0);
        if (WIFEXITED(status)) {
            result.ExitCode = WEXITSTATUS(status);
        }
        result.Out = ReadText(outName);
        if (options.StderrOnTerminal) {
            close(slave);
            char buffer[4096];
            ssize_t n = 0;
            while ((n = read(master, buffer, sizeof buffer)) > 0) {
                result.Err.append(buffer, static_cast<std::size_t>(n));
            }
            close(master);
        } else {
            result.Err = ReadText(errName);
        }
        fs::remove(outName);
        fs::remove(errName);
        fs::remove(inName);
        return result;
    }

private:
    fs::path dir_;
};

}  // namespace kavel::clitest
