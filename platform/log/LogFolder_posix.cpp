#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "LogFolder.h"

namespace orvel_public::detail {

namespace {

// As the kernel bounds the links of one lookup.
constexpr int kMaxLinks = 32;

std::error_code lastError() { return {errno, std::generic_category()}; }

bool ownedByAdministrator(uid_t uid) { return uid == 0 || uid == geteuid(); }

// What only the administrators can change: a folder of theirs that no
// group or other may write to (so not a sticky one such as /tmp, where
// others may add names).
bool administratorsOnly(const struct stat& st) {
    return ownedByAdministrator(st.st_uid) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

std::vector<std::string> componentsOf(const std::string& path) {
    std::vector<std::string> out;
    std::string::size_type pos = 0;
    while (pos <= path.size()) {
        const std::string::size_type slash = std::min(path.find('/', pos), path.size());
        std::string name = path.substr(pos, slash - pos);
        if (!name.empty() && name != ".") out.push_back(std::move(name));
        pos = slash + 1;
    }
    return out;
}

bool readLink(int dir, const std::string& name, std::string& target) {
    std::vector<char> buf(256);
    for (;;) {
        const ssize_t n = readlinkat(dir, name.c_str(), buf.data(), buf.size());
        if (n < 0) return false;
        if (static_cast<size_t>(n) < buf.size()) {
            target.assign(buf.data(), static_cast<size_t>(n));
            return true;
        }
        buf.resize(buf.size() * 2);
    }
}

struct Step {
    std::string name;
    bool create;  // made where missing
};

// Where a walk down from a folder has got to.
struct Walk {
    Fd dir;
    bool trusted = false;  // every folder on the way, this one included, is the administrators' alone
    int links = 0;
    std::string at;  // the path walked, for what is said
};

bool restartAtRoot(Walk& w) {
    w.dir.reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (w.dir.get() < 0 || fstat(w.dir.get(), &st) != 0) return false;
    w.trusted = administratorsOnly(st);
    w.at = "";
    return true;
}

// Walks down the steps, one component at a time and never through a link
// the kernel follows: a link is read and its target walked in turn, and only
// where the administrators alone could have placed it.
OpenResult walk(Walk& w, std::deque<Step> steps, std::string& why) {
    while (!steps.empty()) {
        const Step step = std::move(steps.front());
        steps.pop_front();
        const std::string here = w.at + "/" + step.name;
        Fd next(openat(w.dir.get(), step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0 && errno == ENOENT && step.create) {
            if (mkdirat(w.dir.get(), step.name.c_str(), 0755) != 0 && errno != EEXIST) {
                why = here + ": " + std::generic_category().message(errno);
                return OpenResult::Failed;
            }
            next.reset(openat(w.dir.get(), step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        }
        struct stat st {};
        if (next.get() < 0 || fstat(next.get(), &st) != 0) {
            why = here + ": " + std::generic_category().message(errno);
            return OpenResult::Failed;
        }
        if (S_ISLNK(st.st_mode)) {
            if (!w.trusted || !ownedByAdministrator(st.st_uid)) {
                why = here + " is a link in a folder that others than the administrators can change";
                return OpenResult::Refused;
            }
            std::string target;
            if (++w.links > kMaxLinks || !readLink(w.dir.get(), step.name, target)) {
                why = here + ": " + std::generic_category().message(w.links > kMaxLinks ? ELOOP : errno);
                return OpenResult::Failed;
            }
            if (!target.empty() && target[0] == '/' && !restartAtRoot(w)) {
                why = std::string("/: ") + std::generic_category().message(errno);
                return OpenResult::Failed;
            }
            const std::vector<std::string> names = componentsOf(target);
            for (auto it = names.rbegin(); it != names.rend(); ++it) steps.push_front({*it, step.create});
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            why = here + ": " + std::generic_category().message(ENOTDIR);
            return OpenResult::Failed;
        }
        w.trusted = w.trusted && administratorsOnly(st);
        w.dir.reset(next.release());
        w.at = here;
    }
    return OpenResult::Opened;
}

}  // namespace

struct LogFolder::Handles {
    int dir;
    bool trusted;
};

LogFolder::LogFolder(std::string path, std::unique_ptr<Handles> handles)
    : path_(std::move(path)), handles_(std::move(handles)) {}

LogFolder::~LogFolder() { close(handles_->dir); }

std::unique_ptr<LogFolder> LogFolder::open(const std::string& root, const std::vector<std::string>& below,
                                           OpenResult& result, std::string& why) {
    std::string path = root;
    std::deque<Step> steps;
    for (const std::string& folder : below) {
        for (const std::string& name : componentsOf(folder)) {
            steps.push_back({name, true});
            path += "/" + name;
        }
    }
    // The walk starts at the install root, as it is: whoever could change
    // the folders above it could change the program itself.
    Walk w;
    struct stat st {};
    w.dir.reset(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (root.empty() || root[0] != '/' || w.dir.get() < 0 || fstat(w.dir.get(), &st) != 0) {
        result = OpenResult::Failed;
        why = root + ": " + std::generic_category().message(root.empty() || root[0] != '/' ? EINVAL : errno);
        return nullptr;
    }
    w.trusted = administratorsOnly(st);
    w.at = root;
    result = walk(w, std::move(steps), why);
    if (result != OpenResult::Opened) return nullptr;
    return std::unique_ptr<LogFolder>(
        new LogFolder(path, std::unique_ptr<Handles>(new Handles{w.dir.release(), w.trusted})));
}

std::string LogFolder::pathOf(const std::string& name) const { return path_ + "/" + name; }

OpenResult LogFolder::openFile(const std::string& name, bool afresh, bool inheritable,
                               FileHandle& out) const {
    // O_NONBLOCK so that a FIFO cannot hold the start up.
    const int flags =
        O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | (inheritable ? 0 : O_CLOEXEC);
    int dir = handles_->dir;
    bool trusted = handles_->trusted;
    Walk w;  // where an administrator's link to the file leads
    std::string file = name;
    int fd = -1;
    for (;;) {
        fd = openat(dir, file.c_str(), flags, 0644);
        if (fd >= 0 || errno != ELOOP) break;
        // A link: followed, walked like the folders, only where only the
        // administrators could have placed it.
        struct stat st {};
        std::string target;
        if (!trusted || fstatat(dir, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !ownedByAdministrator(st.st_uid)) {
            return OpenResult::Refused;
        }
        if (++w.links > kMaxLinks || !readLink(dir, file, target)) return OpenResult::Failed;
        std::vector<std::string> names = componentsOf(target);
        if (names.empty()) return OpenResult::Failed;
        file = names.back();
        names.pop_back();
        if (target[0] == '/') {
            if (!restartAtRoot(w)) return OpenResult::Failed;
        } else {
            w.dir.reset(fcntl(dir, F_DUPFD_CLOEXEC, 0));
            w.trusted = trusted;
        }
        std::string why;
        std::deque<Step> steps;
        for (std::string& n : names) steps.push_back({std::move(n), false});
        const OpenResult walked = walk(w, std::move(steps), why);
        if (walked != OpenResult::Opened) return walked;
        dir = w.dir.get();
        trusted = w.trusted;
    }
    if (fd < 0) return OpenResult::Failed;
    // Where others could have placed it, only a plain file of one name: a
    // hard link to a file elsewhere is refused too (fs.protected_hardlinks
    // keeps others from making one to root's files, where it is set).
    struct stat st {};
    if (!trusted && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)) {
        close(fd);
        return OpenResult::Refused;
    }
    // Emptied only now that it is known to be ours to write.
    if (afresh) (void)!ftruncate(fd, 0);
    out = fd;
    return OpenResult::Opened;
}

std::error_code LogFolder::rename(const std::string& from, const std::string& to, bool replace) const {
    const int dir = handles_->dir;
    if (replace) return renameat(dir, from.c_str(), dir, to.c_str()) == 0 ? std::error_code() : lastError();
    if (renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return lastError();
    // A file system without RENAME_NOREPLACE: only root writes here, or the
    // name is one of the launcher's own, so looking first is enough.
    struct stat st {};
    if (fstatat(dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return std::make_error_code(std::errc::file_exists);
    return renameat(dir, from.c_str(), dir, to.c_str()) == 0 ? std::error_code() : lastError();
}

std::error_code LogFolder::remove(const std::string& name) const {
    return unlinkat(handles_->dir, name.c_str(), 0) == 0 ? std::error_code() : lastError();
}

bool LogFolder::exists(const std::string& name) const {
    struct stat st {};
    return fstatat(handles_->dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool writeAll(FileHandle file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(static_cast<int>(file), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::uint64_t sizeOf(FileHandle file) {
    struct stat st {};
    return fstat(static_cast<int>(file), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

void closeFile(FileHandle file) { close(static_cast<int>(file)); }

}  // namespace orvel_public::detail
