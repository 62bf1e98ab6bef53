// One whole kavel-cli run of one command, in process: its words and the bytes
// of its input. The run may refuse anything, but must end with 0, 1 or 2,
// never crash, and a tones run that succeeds prints counts of at most 256.
//
// Input: byte 0 is the length of the command line, whose words are split at
// NUL bytes (a word with a '/' becomes "x", so that nothing outside the
// scratch folder is named); byte 1 the length of the descriptor text; the rest
// the image. The image is in.raw (with in.txt) and in.bmp in the scratch
// folder, and standard input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "args.h"
#include "commands.h"
#include "fuzz_scratch.h"
#include "measure.h"
#include "suggest.h"

namespace {

namespace fs = std::filesystem;

void Save(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A file in memory as one of the standard streams for the run, put back after.
class Redirected {
public:
    Redirected(int stream, std::string_view bytes) : stream_(stream) {
        std::fflush(nullptr);
        held_ = ::memfd_create("kavel-clirun", MFD_CLOEXEC);
        if (held_ < 0 || ::write(held_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            std::abort();
        }
        ::lseek(held_, 0, SEEK_SET);
        saved_ = ::dup(stream);
        ::dup2(held_, stream);
    }
    ~Redirected() {
        std::fflush(nullptr);
        ::dup2(saved_, stream_);
        ::close(saved_);
        ::close(held_);
    }
    Redirected(const Redirected&) = delete;
    Redirected& operator=(const Redirected&) = delete;

    std::string Text() const {
        std::fflush(nullptr);
        std::string text(4096, '\0');
        const ssize_t got = ::pread(held_, text.data(), text.size(), 0);
        text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
        return text;
    }

private:
    int stream_;
    int held_ = -1;
    int saved_ = -1;
};

int Run(const std::vector<std::string_view>& words) {
    using namespace kavel::cli;
    return std::visit(
        [](const auto& what) -> int {
            using T = std::decay_t<decltype(what)>;
            if constexpr (std::is_same_v<T, TreatOptions>) {
                return RunTreat(what);
            } else if constexpr (std::is_same_v<T, HistogramOptions>) {
                return RunHistogram(what);
            } else if constexpr (std::is_same_v<T, TonesOptions>) {
                return RunTones(what);
            } else if constexpr (std::is_same_v<T, ConvertOptions>) {
                return RunConvert(what);
            } else if constexpr (std::is_same_v<T, SuggestOptions>) {
                return RunSuggest(what);
            } else if constexpr (std::is_same_v<T, MeasureOptions>) {
                return RunMeasure(what);
            } else {
                return kExitUsage;  // usage, help, version, import: no run
            }
        },
        ParseCommandLine(words));
}

// Every line "N" or "NAME: N", N at most 256.
bool CountsOfTones(const std::string& out) {
    std::size_t at = 0;
    while (at < out.size()) {
        const std::size_t end = out.find('\n', at);
        if (end == std::string::npos) {
            return false;
        }
        const std::string line = out.substr(at, end - at);
        const std::size_t colon = line.rfind(": ");
        const std::string number = colon == std::string::npos ? line : line.substr(colon + 2);
        if (number.empty() || number.size() > 3 ||
            number.find_first_not_of("0123456789") != std::string::npos || std::stoi(number) > 256) {
            return false;
        }
        at = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t commandLength = std::min<std::size_t>(data[0], size - 2);
    const std::size_t descriptorLength = std::min<std::size_t>(data[1], size - 2 - commandLength);
    const std::string_view command = all.substr(2, commandLength);
    const std::string_view descriptor = all.substr(2 + commandLength, descriptorLength);
    const std::string_view image = all.substr(2 + commandLength + descriptorLength);

    std::vector<std::string> words{""};
    for (const char c : command) {
        if (c == '\0') {
            words.emplace_back();
        } else if (words.size() <= 16) {
            words.back() += c;
        }
    }
    for (auto& word : words) {
        if (word.find('/') != std::string::npos) {
            word = "x";
        }
    }
    const std::vector<std::string_view> views(words.begin(), words.end());

    const fs::path& folder = kavel::fuzz::ScratchFolder();
    for (const auto& entry : fs::directory_iterator(folder)) {
        fs::remove_all(entry.path());
    }
    Save(folder / "in.raw", image);
    Save(folder / "in.bmp", image);
    Save(folder / "in.txt", descriptor);

    // The run's names are the scratch folder's; the fuzzer's own are put back after.
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    int status = 0;
    std::string out;
    {
        const Redirected in(STDIN_FILENO, image);
        const Redirected output(STDOUT_FILENO, {});
        const Redirected errors(STDERR_FILENO, {});
        status = Run(views);
        out = output.Text();
    }
    fs::current_path(before);
    if (status < 0 || status > 2) {
        __builtin_trap();
    }
    if (status == 0 && !words.empty() && words[0] == "tones" && !CountsOfTones(out)) {
        __builtin_trap();
    }
    return 0;
}
