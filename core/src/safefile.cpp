#include "kavel/safefile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <ostream>
#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

namespace kavel {

namespace {

std::string Reason(int error) {
    return std::generic_category().message(error);
}

// A stream buffer over a C file that remembers the errno of the first failed
// write, so the message can say why ("No space left on device").
class FileBuffer final : public std::streambuf {
public:
    explicit FileBuffer(std::FILE* file) : file_(file), buffer_(kBufferSize) {
        std::setvbuf(file_, nullptr, _IONBF, 0);  // we buffer ourselves
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }

    int FirstError() const noexcept { return firstError_; }

protected:
    int_type overflow(int_type ch) override {
        if (!Drain()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }

    std::streamsize xsputn(const char* data, std::streamsize count) override {
        if (count <= 0) {
            return 0;
        }
        const auto room = static_cast<std::streamsize>(epptr() - pptr());
        if (count <= room) {
            std::memcpy(pptr(), data, static_cast<std::size_t>(count));
            pbump(static_cast<int>(count));
            return count;
        }
        // Large blocks (pixel data) go straight to the file.
        if (!Drain() || !Put(data, static_cast<std::size_t>(count))) {
            return 0;
        }
        return count;
    }

    int sync() override {
        if (!Drain()) {
            return -1;
        }
        if (std::fflush(file_) != 0) {
            Remember(errno);
            return -1;
        }
        return 0;
    }

private:
    static constexpr std::size_t kBufferSize = std::size_t{1} << 16;

    bool Drain() {
        const auto pending = static_cast<std::size_t>(pptr() - pbase());
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return Put(buffer_.data(), pending);
    }

    bool Put(const char* data, std::size_t count) {
        if (firstError_ != 0) {
            return false;
        }
        // At most 1 MiB per write(2). Linux builds the page cache of one
        // larger write from 2 MiB folios; those need whole free 2 MiB blocks,
        // which a virtual machine's host may have taken back, so filling them
        // costs many times the copy (raw images, written in one piece, took
        // four times as long as bitmaps, written row by row).
        for (std::size_t done = 0; done < count;) {
            const std::size_t piece = std::min(count - done, std::size_t{1} << 20);
            if (std::fwrite(data + done, 1, piece, file_) != piece) {
                Remember(errno != 0 ? errno : EIO);
                return false;
            }
            done += piece;
        }
        return true;
    }

    void Remember(int error) noexcept {
        if (firstError_ == 0) {
            firstError_ = error != 0 ? error : EIO;
        }
    }

    std::FILE* file_;
    std::vector<char> buffer_;
    int firstError_ = 0;
};

std::FILE* OpenExclusive(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"wbx");
#else
    return std::fopen(path.c_str(), "wbx");
#endif
}

// A fresh name beside the target; "x" mode makes the creation fail rather than
// reuse a file that someone else made under the same name.
std::FILE* CreateTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& tempPath,
                                 int& error) {
    static std::atomic<std::uint64_t> counter{0};
    const auto ticks =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::uint64_t tag = (ticks ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull)) & 0xFFFFFFFFull;
        tempPath = target;
        tempPath += ".tmp" + std::to_string(tag);
        errno = 0;
        if (std::FILE* file = OpenExclusive(tempPath)) {
            return file;
        }
        error = errno != 0 ? errno : EIO;
        if (error != EEXIST) {
            return nullptr;
        }
    }
    return nullptr;
}

}  // namespace

Status WriteFileSafely(const std::filesystem::path& target,
                       const std::function<Status(std::ostream&)>& writer) {
    const std::string name = target.string();
    std::filesystem::path tempPath;
    int createError = 0;
    std::FILE* file = CreateTemporaryBeside(target, tempPath, createError);
    if (file == nullptr) {
        return Error{"cannot create " + name + ": " + Reason(createError)};
    }

    auto discard = [&](const std::string& message) -> Status {
        std::error_code ignored;
        std::filesystem::remove(tempPath, ignored);
        return Error{message};
    };

    std::string failure;
    {
        FileBuffer buffer(file);
        std::ostream out(&buffer);
        try {
            Status written = writer(out);
            if (!written) {
                failure = "cannot write " + name + ": " + written.error().message;
            }
        } catch (const std::exception& e) {
            failure = "cannot write " + name + ": " + e.what();
        }
        if (failure.empty()) {
            out.flush();
            if (!out || buffer.FirstError() != 0) {
                failure = "cannot write " + name + ": " +
                          Reason(buffer.FirstError() != 0 ? buffer.FirstError() : EIO);
            }
        }
    }
    errno = 0;
    if (std::fclose(file) != 0 && failure.empty()) {
        failure = "cannot write " + name + ": " + Reason(errno != 0 ? errno : EIO);
    }
    if (!failure.empty()) {
        return discard(failure);
    }

    std::error_code renameError;
    std::filesystem::rename(tempPath, target, renameError);
    if (renameError) {
        return discard("cannot replace " + name + ": " + renameError.message());
    }
    return {};
}

}  // namespace kavel
