#include "inputfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

namespace kavel::detail {

std::string KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) {
        return {};
    }
    if (S_ISFIFO(mode)) {
        return "a named pipe (FIFO)";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    return "not a regular file";
}

std::string SystemReason(int error) {
    return std::generic_category().message(error != 0 ? error : EIO);
}

Error FileFailure(std::string_view what, std::string_view name, int error) {
    std::string text(what);
    text += ' ';
    text += name;
    text += ": ";
    text += SystemReason(error);
    return Error{std::move(text)};
}

Expected<InputFile> InputFile::Open(const std::filesystem::path& name) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return FileFailure("cannot open", name.native(), errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return FileFailure("cannot open", name.native(), error);
    }
    if (const std::string kind = KindOfMode(info.st_mode); !kind.empty()) {
        ::close(fd);
        return Error{name.string() + " is " + kind + ", not a regular file"};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return InputFile(fd, static_cast<std::uint64_t>(info.st_size));
}

InputFile::InputFile(InputFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
    }
    return *this;
}

InputFile::~InputFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Expected<std::size_t> InputFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> into) const {
    std::size_t done = 0;
    while (done < into.size()) {
        const std::size_t want = std::min<std::size_t>(into.size() - done, std::size_t{1} << 30);
        const ssize_t got = ::pread(fd_, into.data() + done, want, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Error{SystemReason(errno)};
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void InputFile::Advise(std::uint64_t offset, std::uint64_t length, int advice) const noexcept {
#if defined(POSIX_FADV_NORMAL)
    (void)::posix_fadvise(fd_, static_cast<off_t>(offset), static_cast<off_t>(length), advice);
#else
    (void)offset;
    (void)length;
    (void)advice;
#endif
}

}  // namespace kavel::detail
