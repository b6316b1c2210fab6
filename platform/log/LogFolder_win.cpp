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

bool isReparsePoint(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    return !GetFileInformationByHandle(h, &info) ||
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A file or folder of the folder, opened as itself (a reparse point is not
// followed) for access.
HANDLE openAsItself(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

struct LogFolder::Handles {
    std::wstring path;
    // Each folder below the root, the log folder last, held without delete
    // sharing: none of them can be moved, replaced or deleted meanwhile, so
    // the path leads where it led when it was judged.
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
    handles->path = widen(root);
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
    if (names.empty()) {
        // The root itself, as it is: the administrators' choice.
        Handle h(CreateFileW(handles->path.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (h.get() == INVALID_HANDLE_VALUE)
            return fail(OpenResult::Failed, root + ": " + lastError().message());
        handles->held.push_back(h.release());
    }
    for (const std::string& name : names) {
        if (!isPlainName(name)) return fail(OpenResult::Failed, path + "\\" + name + ": not a folder's name");
        handles->path += L"\\" + widen(name);
        path += "\\" + name;
        const auto openFolder = [&handles] {
            return CreateFileW(handles->path.c_str(),
                               FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        };
        Handle h(openFolder());
        if (h.get() == INVALID_HANDLE_VALUE &&
            (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
            if (!CreateDirectoryW(handles->path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                return fail(OpenResult::Failed, path + ": " + lastError().message());
            }
            h.reset(openFolder());
        }
        if (h.get() == INVALID_HANDLE_VALUE)
            return fail(OpenResult::Failed, path + ": " + lastError().message());
        // A junction, symbolic link or mount point could lead a service
        // running as SYSTEM anywhere: refused, whoever made it.
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(h.get(), &info)) {
            return fail(OpenResult::Failed, path + ": " + lastError().message());
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return fail(OpenResult::Refused, path + " is a junction, symbolic link or mount point");
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return fail(OpenResult::Failed,
                        path + ": " + std::error_code(ERROR_DIRECTORY, g_win32).message());
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
    const std::wstring path = handles_->path + L"\\" + widen(name);
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, inheritable ? TRUE : FALSE};
    // Shared for deleting too, so that it can be moved aside while others
    // (daemons that inherited it, a log shipper) still hold it.
    Handle h(CreateFileW(
        path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | (afresh ? FILE_WRITE_DATA : 0) | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE) {
        return OpenResult::Failed;
    }
    if (isReparsePoint(h.get())) {
        return OpenResult::Refused;
    }
    // Emptied only now that it is known to be a plain file.
    if (afresh) {
        FILE_END_OF_FILE_INFO end{};
        (void)SetFileInformationByHandle(h.get(), FileEndOfFileInfo, &end, sizeof end);
    }
    out = reinterpret_cast<FileHandle>(h.release());
    return OpenResult::Opened;
}

std::error_code LogFolder::rename(const std::string& from, const std::string& to, bool replace) const {
    if (!isPlainName(from) || !isPlainName(to)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    Handle h(openAsItself(handles_->path + L"\\" + widen(from), DELETE));
    if (h.get() == INVALID_HANDLE_VALUE) {
        return lastError();
    }
    // The new name relative to the log folder's own handle (the structure
    // is the native FILE_RENAME_INFORMATION's).
    const std::wstring target = widen(to);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = handles_->held.back();
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, target.data(), target.size() * sizeof(wchar_t));
    // The native call: kernel32's turns the name into a full path first, from
    // the current folder, and so cannot take a name relative to a handle.
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        NtSetInformationFile(h.get(), &io, info, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    if (status < 0) {
        return {static_cast<int>(RtlNtStatusToDosError(status)), g_win32};
    }
    return {};
}

std::error_code LogFolder::remove(const std::string& name) const {
    if (!isPlainName(name)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    Handle h(openAsItself(handles_->path + L"\\" + widen(name), DELETE));
    FILE_DISPOSITION_INFO gone{TRUE};
    if (h.get() == INVALID_HANDLE_VALUE ||
        !SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone)) {
        return lastError();
    }
    return {};
}

bool LogFolder::exists(const std::string& name) const {
    return isPlainName(name) &&
           GetFileAttributesW((handles_->path + L"\\" + widen(name)).c_str()) != INVALID_FILE_ATTRIBUTES;
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
