#include "kavel/safefile.h"

#include "fdbuffer.h"
#include "inputfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>
#include <ostream>
#include <random>
#include <set>
#include <streambuf>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace kavel {

namespace fs = std::filesystem;

namespace {

using detail::FdBuffer;
using detail::UniqueFd;

// When this process started, to the second: temporaries older than that can
// only be leftovers of a run that was killed.
const std::time_t kProcessStart = std::time(nullptr);

// Temporaries being written, for the interrupt handler: fixed slots so the
// handler needs nothing but atomics and unlink.
struct TemporarySlot {
    std::atomic<int> State{0};  // 0 free, 1 being filled, 2 holds a path
    char Path[4096] = {};
};
// A save group holds up to a few hundred temporaries at once.
TemporarySlot gTemporaries[256];

TemporarySlot* Register(const fs::path& path) {
    if (path.native().size() >= sizeof gTemporaries[0].Path) {
        return nullptr;
    }
    for (auto& slot : gTemporaries) {
        int expected = 0;
        if (slot.State.compare_exchange_strong(expected, 1)) {
            std::memcpy(slot.Path, path.c_str(), path.native().size() + 1);
            slot.State.store(2);
            return &slot;
        }
    }
    return nullptr;
}

// Threads between creating a temporary and registering it. They run with the
// interrupts blocked, so the handler runs elsewhere and can wait for them.
std::atomic<int> gCreating{0};

extern "C" void RemoveTemporariesAndDie(int signal) {
    // Bounded: a creation stuck on a dead network folder must not keep us alive.
    for (int waited = 0; waited < 2000 && gCreating.load() != 0; ++waited) {
        const timespec pause{0, 500'000};
        ::nanosleep(&pause, nullptr);
    }
    for (auto& slot : gTemporaries) {
        if (slot.State.load() == 2) {
            ::unlink(slot.Path);
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// An interrupted run (Ctrl+C, kill) removes what it was writing and then ends
// as it would have. Handlers of the program's own are left alone.
void RemoveTemporariesOnInterrupt() noexcept {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) {
        return;
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            std::signal(signal, RemoveTemporariesAndDie);
        }
    }
}

// Blocks the interrupts in this thread and counts it as creating, for a scope.
class InterruptsHeld {
public:
    InterruptsHeld() noexcept {
        sigset_t interrupts;
        sigemptyset(&interrupts);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&interrupts, signal);
        }
        ::pthread_sigmask(SIG_BLOCK, &interrupts, &saved_);
        gCreating.fetch_add(1);
    }
    ~InterruptsHeld() {
        gCreating.fetch_sub(1);
        ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    sigset_t saved_{};
};

constexpr std::string_view kTempPrefix = ".kavel-";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr std::size_t kTempTagLength = 6;

std::string RandomTag() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<std::uint64_t> counter{0};
    std::random_device device;
    std::mt19937_64 random((std::uint64_t{device()} << 32) ^ device() ^
                           counter.fetch_add(0x9E3779B97F4A7C15ull) ^ static_cast<std::uint64_t>(::getpid()));
    std::string tag;
    for (std::size_t i = 0; i < kTempTagLength; ++i) {
        tag += kLetters[random() % (sizeof kLetters - 1)];
    }
    return tag;
}

fs::path FolderOf(const fs::path& file) {
    fs::path folder = file.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

// One file on its way to its target.
struct Pending {
    std::string Name;    // the name the caller gave, for messages
    fs::path Target;     // the file finally replaced (links resolved)
    fs::path Temporary;  // empty when written in place
    UniqueFd Fd;         // the temporary, locked, or the target in place
    bool Existed = false;
    struct stat Old {};
    bool Renamed = false;
    bool Exchanged = false;  // the temporary's name now holds the old content

    TemporarySlot* Slot = nullptr;

    bool InPlace() const { return Temporary.empty(); }

    void Discard() {
        if (!Temporary.empty() && !Renamed) {
            ::unlink(Temporary.c_str());
        }
        Fd.Close();
        Release();
    }
    void Release() {
        if (Slot != nullptr) {
            Slot->State.store(0);
            Slot = nullptr;
        }
    }
    Pending() = default;
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;
    ~Pending() { Release(); }
};

// Leftovers are older than this process, so one look per folder is enough:
// a batch of many saves into one folder then does not read it again each time.
void RemoveStaleTemporariesOnce(const fs::path& folder) {
    static std::mutex mutex;
    static std::set<fs::path> cleaned;
    {
        const std::lock_guard lock(mutex);
        if (!cleaned.insert(folder).second) {
            return;
        }
    }
    RemoveStaleTemporaries(folder);
}

// Checks the target and opens where its content will go.
Status Prepare(const fs::path& target, Pending& file) {
    file.Name = target.string();
    file.Target = ResolveLinks(target);
    if (::stat(file.Target.c_str(), &file.Old) == 0) {
        const std::string kind = detail::KindOfMode(file.Old.st_mode);
        if (!kind.empty()) {
            return Error{"cannot save over " + file.Name + ": it is " + kind + ", not a regular file"};
        }
        file.Existed = true;
    }  // else the creation below says what is wrong with the name

    const fs::path folder = FolderOf(file.Target);
    RemoveStaleTemporariesOnce(folder);
    int createError = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path temporary =
            folder / (std::string(kTempPrefix) + RandomTag() + std::string(kTempSuffix));
        // Private until it is complete; it gets the old file's mode before the rename.
        // An interrupt between the creation and the registration would leave
        // the temporary behind.
        const InterruptsHeld held;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                              file.Existed ? 0600 : 0666);
        if (fd >= 0) {
            file.Fd = UniqueFd(fd);
            file.Temporary = temporary;
            file.Slot = Register(temporary);
            // Held until the rename: tells a cleaner that this one is in use.
            ::flock(fd, LOCK_EX | LOCK_NB);
            return {};
        }
        createError = errno;
        if (createError != EEXIST) {
            break;
        }
    }

    // A folder that takes no new file may still hold a writable target: write
    // it in place, as the only way left to save.
    if (file.Existed && (createError == EACCES || createError == EPERM)) {
        const int fd = ::open(file.Target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            struct stat now {};
            if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
                ::close(fd);
                return Error{"cannot save over " + file.Name + ": it is not a regular file"};
            }
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            file.Fd = UniqueFd(fd);
            return {};
        }
    }
    return detail::FileFailure("cannot create", file.Name, createError);
}

const char* kInPlaceNote =
    " (its folder is read-only, so it was being written in place and may now be incomplete)";

// Writes the content, gives it the old file's owner and mode, syncs it
// unless a save group will.
Status Fill(Pending& file, const FileWriter& writer, bool sync) {
    std::string failure;
    std::uint64_t written = 0;
    {
        FdBuffer buffer(file.Fd.Get());
        std::ostream out(&buffer);
        try {
            Status status = writer(out);
            if (!status) {
                failure = status.error().message;
                if (buffer.FirstError() != 0) {
                    failure += ": " + detail::SystemReason(buffer.FirstError());  // why the stream failed
                }
            }
        } catch (const std::exception& e) {
            failure = e.what();
        }
        if (failure.empty()) {
            out.flush();
            if (!out || buffer.FirstError() != 0) {
                failure = detail::SystemReason(buffer.FirstError());
            }
        }
        written = buffer.Written();
    }
    if (failure.empty() && file.InPlace() && ::ftruncate(file.Fd.Get(), static_cast<off_t>(written)) != 0) {
        failure = detail::SystemReason(errno);
    }
    if (failure.empty() && file.Existed && !file.InPlace()) {
        // Owner first: changing it clears set-id bits that the mode then restores.
        if (::fchown(file.Fd.Get(), file.Old.st_uid, file.Old.st_gid) != 0) {
            (void)::fchown(file.Fd.Get(), static_cast<uid_t>(-1), file.Old.st_gid);
        }
        if (::fchmod(file.Fd.Get(), file.Old.st_mode & 07777) != 0) {
            failure = "cannot keep its permissions: " + detail::SystemReason(errno);
        }
    }
    if (failure.empty() && sync && ::fsync(file.Fd.Get()) != 0) {
        failure = detail::SystemReason(errno);
    }
    if (!failure.empty()) {
        return Error{"cannot write " + file.Name + ": " + failure + (file.InPlace() ? kInPlaceNote : "")};
    }
    return {};
}

void SyncFolder(const fs::path& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) {
        (void)::fsync(fd.Get());
    }
}

// Exclusive locks on the folders of a set of targets, taken in name order.
class FolderLocks {
public:
    explicit FolderLocks(std::vector<fs::path> folders) {
        std::sort(folders.begin(), folders.end());
        folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
        for (const auto& folder : folders) {
            UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (fd) {
                while (::flock(fd.Get(), LOCK_EX) != 0 && errno == EINTR) {
                }
                fds_.push_back(std::move(fd));
            }
        }
    }

private:
    std::vector<UniqueFd> fds_;
};

int RenameExchange(const fs::path& from, const fs::path& to) {
#ifdef RENAME_EXCHANGE
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE);
#else
    errno = EINVAL;
    return -1;
#endif
}

// Puts back what the renames so far replaced.
void Undo(std::vector<Pending>& files) {
    for (auto& file : files) {
        if (!file.Renamed) {
            continue;
        }
        if (file.Exchanged) {
            (void)RenameExchange(file.Temporary, file.Target);
        } else {
            ::unlink(file.Target.c_str());
        }
        file.Renamed = false;
    }
}

// The renames of one save, its folders locked by the caller.
Status RenameAll(std::vector<Pending>& files) {
    const bool undoable = files.size() > 1;
    for (auto& file : files) {
        if (file.InPlace()) {
            continue;
        }
        // With several files the old content is swapped out rather than
        // dropped, so a later failure can put it back.
        if (undoable && file.Existed && RenameExchange(file.Temporary, file.Target) == 0) {
            file.Renamed = file.Exchanged = true;
            continue;
        }
        if (::rename(file.Temporary.c_str(), file.Target.c_str()) == 0) {
            file.Renamed = true;
            continue;
        }
        const int error = errno;
        Undo(files);
        return detail::FileFailure("cannot replace", file.Name, error);
    }
    for (auto& file : files) {
        if (file.Exchanged) {
            ::unlink(file.Temporary.c_str());  // the old content
        }
    }
    return {};
}

Status Commit(std::vector<Pending>& files) {
    std::vector<fs::path> folders;
    for (const auto& file : files) {
        folders.push_back(FolderOf(file.Target));
    }
    const FolderLocks locks(folders);
    if (Status renamed = RenameAll(files); !renamed) {
        return renamed;
    }
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const auto& folder : folders) {
        SyncFolder(folder);
    }
    return {};
}

thread_local SaveGroup* tCurrentGroup = nullptr;
thread_local std::size_t tCurrentKey = 0;

}  // namespace

struct SaveGroup::Impl {
    struct Save {
        std::size_t Key = 0;
        std::vector<Pending> Files;
    };
    mutable std::mutex Mutex;
    std::vector<Save> Saves;

    void Add(std::size_t key, std::vector<Pending> files) {
        const std::lock_guard lock(Mutex);
        Saves.push_back({key, std::move(files)});
    }
};

SaveGroup::SaveGroup() : impl_(std::make_unique<Impl>()) {}

SaveGroup::~SaveGroup() {
    for (auto& save : impl_->Saves) {
        for (auto& file : save.Files) {
            file.Discard();
        }
    }
}

SaveGroup::Scope::Scope(SaveGroup& group, std::size_t key) noexcept
    : previousGroup_(tCurrentGroup), previousKey_(tCurrentKey) {
    tCurrentGroup = &group;
    tCurrentKey = key;
}

SaveGroup::Scope::~Scope() {
    tCurrentGroup = previousGroup_;
    tCurrentKey = previousKey_;
}

std::size_t SaveGroup::Waiting() const {
    const std::lock_guard lock(impl_->Mutex);
    return impl_->Saves.size();
}

std::vector<std::pair<std::size_t, Error>> SaveGroup::Commit() {
    std::vector<Impl::Save> saves;
    {
        const std::lock_guard lock(impl_->Mutex);
        saves.swap(impl_->Saves);
    }
    std::vector<fs::path> folders;
    for (const auto& save : saves) {
        for (const auto& file : save.Files) {
            folders.push_back(FolderOf(file.Target));
        }
    }
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    // Everything durable before any name changes.
    bool synced = true;
    for (const auto& folder : folders) {
        UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        synced = synced && fd && ::syncfs(fd.Get()) == 0;
    }
    // One lock on each folder for all the group's renames, so that two runs
    // cannot interleave theirs.
    const FolderLocks locks(folders);
    std::vector<std::pair<std::size_t, Error>> failures;
    for (auto& save : saves) {
        for (auto& file : save.Files) {
            if (!synced && ::fsync(file.Fd.Get()) != 0) {
                const int error = errno;
                failures.emplace_back(save.Key, detail::FileFailure("cannot write", file.Name, error));
                break;
            }
        }
        if (!failures.empty() && failures.back().first == save.Key) {
            continue;
        }
        if (Status committed = RenameAll(save.Files); !committed) {
            failures.emplace_back(save.Key, committed.error());
        }
    }
    for (const auto& folder : folders) {
        SyncFolder(folder);
    }
    for (auto& save : saves) {
        for (auto& file : save.Files) {
            file.Discard();
        }
    }
    return failures;
}

void SurviveFileSizeLimit() noexcept {
    struct sigaction current {};
    if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        std::signal(SIGXFSZ, SIG_IGN);
    }
}

bool IsKavelTemporaryName(std::string_view name) noexcept {
    if (name.size() != kTempPrefix.size() + kTempTagLength + kTempSuffix.size() ||
        !name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix)) {
        return false;
    }
    const std::string_view tag = name.substr(kTempPrefix.size(), kTempTagLength);
    return std::all_of(tag.begin(), tag.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

int RemoveStaleTemporaries(const fs::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsKavelTemporaryName(entry->d_name)) {
            continue;
        }
        const fs::path path = folder / entry->d_name;
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat info {};
        if (!fd || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_mtime >= kProcessStart) {
            continue;
        }
        // A save in progress holds its lock; a killed one no longer does.
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0 && ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

fs::path ResolveLinks(const fs::path& name) {
    fs::path current = name;
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code ec;
        const auto status = fs::symlink_status(current, ec);
        if (ec || !fs::is_symlink(status)) {
            return current;
        }
        const fs::path next = fs::read_symlink(current, ec);
        if (ec) {
            return current;
        }
        current = next.is_absolute() ? next : FolderOf(current) / next;
    }
    return current;  // a loop of links: the rename will say so
}

Status WriteFilesSafely(std::span<const FileToWrite> files) {
    SurviveFileSizeLimit();
    RemoveTemporariesOnInterrupt();
    std::vector<Pending> pending(files.size());
    auto discardAll = [&] {
        for (auto& file : pending) {
            file.Discard();
        }
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (Status prepared = Prepare(files[i].Target, pending[i]); !prepared) {
            discardAll();
            return prepared;
        }
    }
    // A save in place cannot wait: it changes its target as it is written.
    const bool deferred =
        tCurrentGroup != nullptr &&
        std::none_of(pending.begin(), pending.end(), [](const Pending& p) { return p.InPlace(); });
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (Status filled = Fill(pending[i], files[i].Writer, !deferred); !filled) {
            discardAll();
            return filled;
        }
    }
    if (deferred) {
        tCurrentGroup->impl_->Add(tCurrentKey, std::move(pending));
        return {};
    }
    Status committed = Commit(pending);
    discardAll();
    return committed;
}

Status WriteFileSafely(const fs::path& target, const FileWriter& writer) {
    const FileToWrite file{target, writer};
    return WriteFilesSafely(std::span<const FileToWrite>(&file, 1));
}

}  // namespace kavel
