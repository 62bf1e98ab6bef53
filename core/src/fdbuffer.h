// A file descriptor owned, and a stream buffer that writes through one and
// remembers why the first write failed (internal to the core).
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <streambuf>
#include <utility>
#include <vector>

namespace kavel::detail {

// A stream buffer over a file descriptor that remembers the errno of the first
// failed write, so the message can say why ("No space left on device").
class FdBuffer final : public std::streambuf {
public:
    explicit FdBuffer(int fd) : fd_(fd), buffer_(kBufferSize) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }

    int FirstError() const noexcept { return firstError_; }
    std::uint64_t Written() const noexcept { return written_; }

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

    int sync() override { return Drain() ? 0 : -1; }

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
        while (count != 0) {
            const ssize_t done = ::write(fd_, data, std::min<std::size_t>(count, std::size_t{1} << 20));
            if (done < 0) {
                if (errno == EINTR) {
                    continue;
                }
                firstError_ = errno != 0 ? errno : EIO;
                return false;
            }
            if (done == 0) {
                firstError_ = EIO;
                return false;
            }
            data += done;
            count -= static_cast<std::size_t>(done);
            written_ += static_cast<std::uint64_t>(done);
        }
        return true;
    }

    int fd_;
    std::vector<char> buffer_;
    int firstError_ = 0;
    std::uint64_t written_ = 0;
};

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~UniqueFd() { Close(); }
    int Get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int Close() noexcept {
        const int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_ = -1;
};

}  // namespace kavel::detail
