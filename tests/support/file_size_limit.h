// Lowers the soft file-size limit (RLIMIT_FSIZE) for as long as the guard
// lives, standing in for a full disk. The destructor puts the saved limit
// back, so a check that aborts half-way leaves later tests unlimited.
#pragma once

#include <sys/resource.h>

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) noexcept {
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0) {
            return;
        }
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        applied_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        if (applied_) {
            ::setrlimit(RLIMIT_FSIZE, &saved_);
        }
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // False when the limit could not be lowered; the test then proves nothing.
    bool Applied() const noexcept { return applied_; }

private:
    rlimit saved_{};
    bool applied_ = false;
};
