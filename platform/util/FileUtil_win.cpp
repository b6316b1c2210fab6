#include "FileUtil.h"

namespace orvel_public {

const char* CFileUtil::getProcSuffix() { return ".exe"; }

}  // namespace orvel_public
