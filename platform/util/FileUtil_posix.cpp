#include "FileUtil.h"

namespace orvel_public {

const char* CFileUtil::getProcSuffix() { return ""; }

}  // namespace orvel_public
