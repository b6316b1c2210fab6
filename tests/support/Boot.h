// Boots of the installed ventrix for end-to-end tests on Linux: a private
// copy of the install tree with a scripted fake sys_ctrl in its bin/, started
// as systemd would start it, with a notification socket listening.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "NotifyListener.h"

namespace testsupport {

struct Boot {
    std::filesystem::path root;
    std::filesystem::path bin;
    std::chrono::steady_clock::time_point started;
    pid_t pid = -1;
    std::unique_ptr<NotifyListener> notify;
    std::vector<std::string> extraEnv;  // "NAME=value", set at the start over the test's own and the boot's
    std::vector<int> ignoredSignals;    // ignored by the parent, as ventrix inherits them
    std::vector<std::string> wrapper;   // a command that runs ventrix, given as its last argument
    long cpuMs = -1;                    // user and system time of the whole run, once it has ended

    // Milliseconds from the start to t.
    long msAt(std::chrono::steady_clock::time_point t) const;
    // sys_ctrl's runs, by their arguments.
    std::vector<std::string> runs() const;
    // The log file's records (testsupport::logMessages).
    std::vector<std::string> logMessages() const;
    std::string output() const;
    // What the run record, kept for the unit's stop, says ran last.
    std::string lastRun() const;
};

// A private copy of the installed tree; plan is sys_ctrl.plan, or with
// withControlProgram false no sys_ctrl at all.
Boot prepareBoot(const std::string& name, const std::string& plan, bool withControlProgram = true);

enum class Streams {
    ToFile,      // standard output and error to output.txt
    Closed,      // standard input, output and error closed
    BrokenPipe,  // standard output and error on a pipe whose reader has gone
};

// Starts ventrix with NOTIFY_SOCKET and RUNTIME_DIRECTORY (root/run) set, as
// systemd starts the unit, and its standard streams as asked.
void startBoot(Boot& b, Streams streams = Streams::ToFile);

// The exit status, or -1 when it had not ended within the limit (it is then
// killed); sets cpuMs.
int waitExit(Boot& b, std::chrono::seconds limit);

std::vector<std::string> messagesOf(const std::vector<Notification>& ns);

// The log's messages for a boot whose first start succeeds.
extern const std::vector<std::string> kSuccessfulBootRecords;

}  // namespace testsupport
