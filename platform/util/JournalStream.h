// Whether a standard stream leads to systemd's journal (Linux).
#pragma once

namespace orvel_public::detail {

// True when descriptor fd is the stream that systemd connected to the
// journal, as JOURNAL_STREAM says for the services it starts. The journal
// then reads each line of it as an entry, at the priority that a "<N>"
// before the line gives. Reads the environment: call it before the process
// has a second thread.
bool streamIsJournal(int fd);

}  // namespace orvel_public::detail
