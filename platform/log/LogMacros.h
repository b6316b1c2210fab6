// The two logging macros every record of the program goes through.
#pragma once

#include <log4cplus/loggingmacros.h>

#include <exception>

#include "LogSystem.h"

namespace orvel_public::detail {

// The writing site's file name without its folder, worked out at compile time.
constexpr const char* baseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            base = p + 1;
        }
    }
    return base;
}

}  // namespace orvel_public::detail

// A record that cannot be made (no memory for its text, say) is lost, rather
// than an exception that would end the process from the writer's line.
#define ORVEL_LOG_AT_LEVEL(level, ...)                                                                      \
    do {                                                                                                    \
        try {                                                                                               \
            bool orvelLogOk_ = false;                                                                       \
            log4cplus::Logger& orvelLogger_ = orvel_public::getLogger(orvelLogOk_);                         \
            if (!orvelLogOk_) {                                                                             \
                break;                                                                                      \
            }                                                                                               \
            if (!orvelLogger_.isEnabledFor(level)) {                                                        \
                break;                                                                                      \
            }                                                                                               \
            log4cplus::helpers::snprintf_buf& orvelLogBuf_ =                                                \
                log4cplus::detail::get_macro_body_snprintf_buf();                                           \
            const log4cplus::tchar* orvelLogMsg_ = orvelLogBuf_.print(__VA_ARGS__);                         \
            static constexpr const char* orvelLogFile_ = orvel_public::detail::baseName(__FILE__);          \
            log4cplus::detail::macro_forced_log(orvelLogger_, level, orvelLogMsg_, orvelLogFile_, __LINE__, \
                                                LOG4CPLUS_MACRO_FUNCTION());                                \
        } catch (const std::exception&) {                                                                   \
        }                                                                                                   \
    } while (0)

#define LOGINFO(...) ORVEL_LOG_AT_LEVEL(log4cplus::INFO_LOG_LEVEL, __VA_ARGS__)
#define LOGERROR(...) ORVEL_LOG_AT_LEVEL(log4cplus::ERROR_LOG_LEVEL, __VA_ARGS__)
