// log4cplus is not included here, so <windows.h> comes first as usual.
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "LogFolder.h"
#include "Utf8_win.h"

namespace orvel_public::detail {

namespace {

// Win32 error codes, with Windows's own words for them and the portable
// conditions the log system tests for.
class Win32Category : public std::error_category {
public:
    const char* name() const noexcept override { return "win32"; }
    std::string message(int code) const override {
        wchar_t* text = nullptr;
        const DWORD n = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        std::wstring words = n > 0 ? std::wstring(text, n) : L"error " + std::to_wstring(code);
        LocalFree(text);
        while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L'.')) {
            words.pop_back();
        }
        return narrow(words);
    }
    std::error_condition default_error_condition(int code) const noexcept override {
        switch (code) {
            case ERROR_ALREADY_EXISTS:
            case ERROR_FILE_EXISTS:
                return std::errc::file_exists;
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
                return std::errc::no_such_file_or_directory;
            case ERROR_SHARING_VIOLATION:
            case ERROR_LOCK_VIOLATION:
                return std::errc::device_or_resource_busy;
            case ERROR_ACCESS_DENIED:
                return std::errc::permission_denied;
            default:
                return {code, *this};
        }
    }
};

const Win32Category g_win32;

std::error_code lastError() { return {static_cast<int>(GetLastError()), g_win32}; }

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:") == std::string::npos;
}

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
    void reset(HANDLE h) {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_;
};

std::error_code ntError(NTSTATUS status) {
    return {static_cast<int>(RtlNtStatusToDosError(status)), g_win32};
}

// Opens name in the folder of handle dir, as itself: the name is looked up
// in that very folder, whatever has become of its path since, and a reparse
// point there is opened, not followed.
HANDLE openIn(HANDLE dir, const std::string& name, ACCESS_MASK access, ULONG share, ULONG disposition,
              ULONG options, bool inheritable, std::error_code& ec) {
    std::wstring wide = widen(name);
    UNICODE_STRING text{static_cast<USHORT>(wide.size() * sizeof(wchar_t)),
                        static_cast<USHORT>(wide.size() * sizeof(wchar_t)), wide.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE | (inheritable ? OBJ_INHERIT : 0),
                               dir, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE h = nullptr;
    const NTSTATUS status = NtCreateFile(
        &h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0) {
        ec = ntError(status);
        return INVALID_HANDLE_VALUE;
    }
    ec.clear();
    return h;
}

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

struct LogFolder::Handles {
    // The install root, then each folder below it, the log folder last, held
    // without delete sharing, so that none can be moved or deleted while the
    // process runs. Everything is opened relative to these handles, never by
    // path: a folder that becomes a mount point meanwhile leads nowhere new.
    std::vector<HANDLE> held;
};

LogFolder::LogFolder(std::string path, std::unique_ptr<Handles> handles)
    : path_(std::move(path)), handles_(std::move(handles)) {}

LogFolder::~LogFolder() {
    for (HANDLE h : handles_->held) CloseHandle(h);
}

std::unique_ptr<LogFolder> LogFolder::open(const std::string& root, const std::vector<std::string>& below,
                                           OpenResult& result, std::string& why) {
    auto handles = std::make_unique<Handles>();
    std::string path = root;
    std::vector<std::string> names;
    for (const std::string& folder : below) {
        for (std::string::size_type pos = 0; pos <= folder.size();) {
            const std::string::size_type cut = std::min(folder.find_first_of("\\/", pos), folder.size());
            if (cut > pos) names.push_back(folder.substr(pos, cut - pos));
            pos = cut + 1;
        }
    }
    const auto fail = [&](OpenResult r, const std::string& words) {
        for (HANDLE h : handles->held) CloseHandle(h);
        result = r;
        why = words;
        return nullptr;
    };
    // The root itself, as it is: the administrators' choice.
    const HANDLE rootHandle = CreateFileW(
        widen(root).c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (rootHandle == INVALID_HANDLE_VALUE)
        return fail(OpenResult::Failed, root + ": " + lastError().message());
    handles->held.push_back(rootHandle);
    for (const std::string& name : names) {
        path += "\\" + name;
        if (!isPlainName(name)) return fail(OpenResult::Failed, path + ": not a folder's name");
        std::error_code ec;
        // Made where missing.
        Handle h(openIn(handles->held.back(), name,
                        FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF, FILE_DIRECTORY_FILE, false, ec));
        if (h.get() == INVALID_HANDLE_VALUE) return fail(OpenResult::Failed, path + ": " + ec.message());
        // A junction, symbolic link or mount point could lead a service
        // running as SYSTEM anywhere: refused, whoever made it.
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(h.get(), &info)) {
            return fail(OpenResult::Failed, path + ": " + lastError().message());
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return fail(OpenResult::Refused, path + " is a junction, symbolic link or mount point");
        }
        handles->held.push_back(h.release());
    }
    result = OpenResult::Opened;
    return std::unique_ptr<LogFolder>(new LogFolder(path, std::move(handles)));
}

std::string LogFolder::pathOf(const std::string& name) const { return path_ + "\\" + name; }

OpenResult LogFolder::openFile(const std::string& name, bool afresh, bool inheritable,
                               FileHandle& out) const {
    if (!isPlainName(name)) {
        return OpenResult::Failed;
    }
    std::error_code ec;
    // Shared for deleting too, so that it can be moved aside while others
    // (daemons that inherited it, a log shipper) still hold it.
    Handle h(openIn(handles_->held.back(), name,
                    FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | (afresh ? FILE_WRITE_DATA : 0), kShareAll,
                    FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE, inheritable, ec));
    if (h.get() == INVALID_HANDLE_VALUE) {
        return OpenResult::Failed;
    }
    // Only a plain file of one name: a reparse point could lead anywhere, a
    // second name is a file elsewhere.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks != 1) {
        return OpenResult::Refused;
    }
    // Emptied only now that it is known to be a plain file. Writing data
    // (not only appending), such a handle would write over what it failed
    // to empty: it is given up instead, and the next record appends.
    if (afresh) {
        FILE_END_OF_FILE_INFO end{};
        if (!SetFileInformationByHandle(h.get(), FileEndOfFileInfo, &end, sizeof end)) {
            return OpenResult::Failed;
        }
    }
    out = reinterpret_cast<FileHandle>(h.release());
    return OpenResult::Opened;
}

std::error_code LogFolder::rename(const std::string& from, const std::string& to, bool replace) const {
    if (!isPlainName(from) || !isPlainName(to)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    std::error_code ec;
    Handle h(openIn(handles_->held.back(), from, DELETE, kShareAll, FILE_OPEN, 0, false, ec));
    if (h.get() == INVALID_HANDLE_VALUE) {
        return ec;
    }
    // The new name relative to the log folder's own handle too (the
    // structure is the native FILE_RENAME_INFORMATION's). The native call:
    // kernel32's turns the name into a full path first, from the current
    // folder, and so cannot take a name relative to a handle.
    const std::wstring target = widen(to);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = handles_->held.back();
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, target.data(), target.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        NtSetInformationFile(h.get(), &io, info, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    return status < 0 ? ntError(status) : std::error_code();
}

std::error_code LogFolder::remove(const std::string& name) const {
    if (!isPlainName(name)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    std::error_code ec;
    Handle h(openIn(handles_->held.back(), name, DELETE, kShareAll, FILE_OPEN, 0, false, ec));
    if (h.get() == INVALID_HANDLE_VALUE) {
        return ec;
    }
    // The name goes at once, even where a daemon still holds the file
    // (POSIX semantics, Windows 10 1709 and later): a name left pending
    // deletion would block the next roll-over's move onto it.
    IO_STATUS_BLOCK io{};
    ULONG posix = 0x1 | 0x2;  // FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS
    const auto kDispositionEx = static_cast<FILE_INFORMATION_CLASS>(64);  // FileDispositionInformationEx
    if (NtSetInformationFile(h.get(), &io, &posix, sizeof posix, kDispositionEx) >= 0) {
        return {};
    }
    FILE_DISPOSITION_INFO gone{TRUE};
    return SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone) ? std::error_code()
                                                                                        : lastError();
}

bool LogFolder::exists(const std::string& name) const {
    std::error_code ec;
    Handle h(isPlainName(name) ? openIn(handles_->held.back(), name, FILE_READ_ATTRIBUTES, kShareAll,
                                        FILE_OPEN, 0, false, ec)
                               : INVALID_HANDLE_VALUE);
    return h.get() != INVALID_HANDLE_VALUE;
}

bool writeAll(FileHandle file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(file), bytes.data() + done,
                       static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

std::uint64_t sizeOf(FileHandle file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(reinterpret_cast<HANDLE>(file), &size) ? static_cast<std::uint64_t>(size.QuadPart)
                                                                : 0;
}

void closeFile(FileHandle file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

}  // namespace orvel_public::detail
