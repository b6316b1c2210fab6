#include "CSysLauncher.h"

#include <string>

#include "FileUtil.h"
#include "LogMacros.h"
#include "ProcUtil.h"

using orvel_public::CFileUtil;
using orvel_public::CProcUtil;

namespace orvel_sys {

namespace {

const char* const kProgramBaseName = "sys_ctrl";
const char* const kStartOption = "-l";
const char* const kStopOption = "-s";

// Failed starts after which the next one is still tried: the third failure
// ends the launcher, so at most three start runs.
constexpr int32_t kStartFailuresStillRetried = 2;
// Failed stop runs of one clean-up after which another is still made: the
// third failure ends the launcher, so at most three stop runs.
constexpr int32_t kStopFailuresStillRetried = 2;

// Looked up afresh on every run, so a program installed or removed meanwhile is seen.
std::string controlProgramPath() {
    const std::string name = std::string(kProgramBaseName) + CFileUtil::getProcSuffix();
    return CFileUtil::getPathOfBinFile(name, nullptr);
}

}  // namespace

CSysLauncher::CSysLauncher() : m_nState(STATE_IDLE), m_nStopFailCount(0), m_nStartFailCount(0) {}

// Runs no stop action whatever the state: a started platform stays up.
CSysLauncher::~CSysLauncher() = default;

int32_t CSysLauncher::processOnce(bool bStop) {
    // The state and counters change only after an action has returned, so an
    // exception from the platform leaves them as they were.
    switch (m_nState) {
        case STATE_IDLE:
            if (bStop) {
                return FINISHED;
            }
            m_nState = STATE_START;
            break;
        case STATE_START:
            if (bStop) {
                return FINISHED;
            }
            if (doStart()) {
                m_nStartFailCount = 0;
                m_nState = STATE_STARTED;
            } else {
                ++m_nStartFailCount;
                m_nState = STATE_STOP;
            }
            break;
        case STATE_STARTED:
            return FINISHED;
        case STATE_STOP:
            // A clean-up is finished even when the service is stopping.
            if (doStop()) {
                m_nState = STATE_STOPPED;
                m_nStopFailCount = 0;
            } else if (m_nStopFailCount >= kStopFailuresStillRetried) {
                return FINISHED;
            } else {
                ++m_nStopFailCount;
            }
            break;
        case STATE_STOPPED:
            if (bStop || m_nStartFailCount > kStartFailuresStillRetried) {
                return FINISHED;
            }
            m_nState = STATE_START;
            break;
        default:
            LOGERROR("processOnce(): 非法状态");
            m_nState = STATE_IDLE;
            break;
    }
    return TICK_WAIT_MS;
}

bool CSysLauncher::doStart() {
    LOGINFO("doStart(): 开始启动系统");
    const std::string path = controlProgramPath();
    if (path.empty()) {
        LOGERROR("未找到可执行文件sys_ctrl");
        return false;
    }
    const int32_t result = CProcUtil::execScript(path, kStartOption);
    if (result != 0) {
        LOGERROR("doStart(): 启动系统失败\n%s\nRetrun value == %d", path.c_str(), static_cast<int>(result));
        return false;
    }
    LOGINFO("doStart(): 启动系统成功");
    return true;
}

bool CSysLauncher::doStop() {
    LOGINFO("doStop(): 开始停止系统");
    const std::string path = controlProgramPath();
    if (path.empty()) {
        LOGERROR("未找到可执行文件sys_ctrl");
        return false;
    }
    const int32_t result = CProcUtil::execScript(path, kStopOption);
    if (result != 0) {
        LOGERROR("doStop(): 停止系统失败\n%s\nRetrun value == %d", path.c_str(), static_cast<int>(result));
        return false;
    }
    LOGINFO("doStop(): 停止系统成功");
    return true;
}

}  // namespace orvel_sys
