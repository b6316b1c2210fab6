// UTF-8 <-> UTF-16 for the Windows parts of the platform libraries.
#pragma once

#include <string>

namespace orvel_public::detail {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);

}  // namespace orvel_public::detail
