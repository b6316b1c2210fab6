#include "ProcUtil.h"

namespace orvel_public::detail {

std::vector<std::string> splitArgs(const std::string& args) {
    std::vector<std::string> out;
    std::string::size_type pos = 0;
    while ((pos = args.find_first_not_of(" \t", pos)) != std::string::npos) {
        const std::string::size_type end = args.find_first_of(" \t", pos);
        out.push_back(args.substr(pos, end - pos));
        pos = end;
    }
    return out;
}

std::string quoteWindowsArg(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        return arg;
    }
    std::string out = "\"";
    for (std::string::size_type i = 0;; ++i) {
        std::string::size_type backslashes = 0;
        while (i < arg.size() && arg[i] == '\\') {
            ++backslashes;
            ++i;
        }
        if (i == arg.size()) {
            // Backslashes before the closing quote must not escape it.
            out.append(backslashes * 2, '\\');
            break;
        }
        if (arg[i] == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        out.push_back(arg[i]);
    }
    out.push_back('"');
    return out;
}

}  // namespace orvel_public::detail
