#include <windows.h>

#include <log4cplus/consoleappender.h>
#include <log4cplus/layout.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "LogPlatform.h"
#include "Utf8_win.h"

namespace orvel_public::detail {

void reserveStandardStreams() {}

namespace {

bool isAscii(const std::string& s) {
    for (unsigned char c : s) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}

// The path in the ANSI code page, or "" when some letter has no place in it.
std::string toAnsi(const std::wstring& wide) {
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) {
        return "";
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, out.data(), n, nullptr, &lossy);
    out.resize(static_cast<size_t>(n) - 1);
    return lossy ? "" : out;
}

}  // namespace

std::string appenderFileName(const std::string& utf8Path) {
    if (isAscii(utf8Path)) {
        return utf8Path;
    }
    const std::wstring wide = widen(utf8Path);
    std::string ansi = toAnsi(wide);
    if (!ansi.empty()) {
        return ansi;
    }
    // Letters outside the code page: the folder's short name is plain ASCII.
    // The file itself may not exist yet, so shorten its folder and keep the name.
    const std::wstring::size_type cut = wide.find_last_of(L"\\/");
    const std::wstring folder = wide.substr(0, cut);
    std::vector<wchar_t> buf(32768);
    const DWORD n = GetShortPathNameW(folder.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) {
        return utf8Path;
    }
    return toAnsi(std::wstring(buf.data(), n) + wide.substr(cut));
}

std::vector<log4cplus::SharedAppenderPtr> streamAppenders(const std::string& /*processName*/, const char* pattern) {
    log4cplus::SharedAppenderPtr console(new log4cplus::ConsoleAppender(true, true));
    console->setLayout(std::make_unique<log4cplus::PatternLayout>(pattern));
    return {console};
}

void warnOperator(const std::string& text) {
    (void)std::fprintf(stderr, "%s\n", text.c_str());
    (void)std::fflush(stderr);
}

}  // namespace orvel_public::detail
