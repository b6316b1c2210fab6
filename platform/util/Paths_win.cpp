#include <windows.h>

#include <vector>

#include "Paths.h"
#include "Utf8_win.h"

namespace orvel_public {

namespace detail {

std::string binaryDirectory() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) {
            return "";
        }
        if (n < buf.size()) {
            return parentFolder(narrow(std::wstring(buf.data(), n)));
        }
        buf.resize(buf.size() * 2);  // truncated: long paths exceed MAX_PATH
    }
}

char pathSeparator() { return '\\'; }

bool isRegularFile(const std::string& path) {
    const DWORD attrs = GetFileAttributesW(widen(path).c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace detail

}  // namespace orvel_public
