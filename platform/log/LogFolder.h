// The folder the log system writes in, reached once from the install root and
// judged on the way down, then used only through its handle: the process
// writes with rights others lack, in folders that may be the platform's, so
// nothing that someone swaps in between may lead it elsewhere.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace orvel_public::detail {

enum class OpenResult { Opened, Refused, Failed };

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;

// Writes all of bytes; false when the file did not take them.
bool writeAll(FileHandle file, const std::string& bytes);
// The file's size, 0 where it cannot be told.
std::uint64_t sizeOf(FileHandle file);
void closeFile(FileHandle file);

// What the log files need of their folder, by the names of its files.
class Folder {
public:
    virtual ~Folder() = default;
    virtual std::string pathOf(const std::string& name) const = 0;
    // A file of the folder opened for appending, emptied when afresh,
    // inheritable when a child is to write to it; judged before anything
    // is written (Refused: a link or not a plain file, where others could
    // have placed it; on Windows any reparse point).
    virtual OpenResult openFile(const std::string& name, bool afresh, bool inheritable,
                                FileHandle& out) const = 0;
    // Moves from to to; with replace false, fails with errc::file_exists where to is taken.
    virtual std::error_code rename(const std::string& from, const std::string& to, bool replace) const = 0;
    virtual std::error_code remove(const std::string& name) const = 0;
    virtual bool exists(const std::string& name) const = 0;
};

class LogFolder : public Folder {
public:
    // Opens root's sub-folder below (each a name, created where missing).
    // Linux: a link on the way is followed only where root alone could have
    // placed it (it and every folder before it root's, writable by no one
    // else); Windows: no reparse point below root at all, and each folder
    // below it held open so that none can be moved while the process runs.
    // Null on failure, with result Refused or Failed and why in words.
    static std::unique_ptr<LogFolder> open(const std::string& root, const std::vector<std::string>& below,
                                           OpenResult& result, std::string& why);
    ~LogFolder() override;
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;

    // The folder's path, for what the log system says.
    const std::string& path() const { return path_; }
    std::string pathOf(const std::string& name) const override;
    OpenResult openFile(const std::string& name, bool afresh, bool inheritable,
                        FileHandle& out) const override;
    std::error_code rename(const std::string& from, const std::string& to, bool replace) const override;
    std::error_code remove(const std::string& name) const override;
    bool exists(const std::string& name) const override;

private:
    struct Handles;
    LogFolder(std::string path, std::unique_ptr<Handles> handles);

    std::string path_;
    std::unique_ptr<Handles> handles_;
};

}  // namespace orvel_public::detail
