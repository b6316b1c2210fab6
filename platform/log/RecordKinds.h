// The kinds of the launcher's records and of the log system's own warnings
// (records.txt): each kind's identifiers, where fleets select records (the
// journal's MESSAGE_ID and fields, the event log's event ID), and the boot's
// outcome, which the boot's last record carries.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace orvel_public::detail {

enum class EventType { Information, Warning, Error };

struct RecordKind {
    const char* kind;
    const char* messageId;  // 32 hex digits
    unsigned eventId;
    EventType type;
    const char* record;   // the text, with %s and %d where it varies
    const char* site;     // the function that writes it, where the text is not enough; "" for any
    const char* outcome;  // the boot's outcome this kind of its record tells; "" for none
    std::vector<std::pair<const char*, const char*>> fields;  // a value "%N": the record's Nth part
};

// A record's kind and its fields, values filled in.
struct Classified {
    const RecordKind* kind = nullptr;  // null: a text of no known kind
    std::vector<std::pair<const char*, std::string>> fields;
};

// The parts of text where pattern has %s or %d, in order; false where text
// is not of that pattern.
bool partsOf(const char* pattern, const std::string& text, std::vector<std::string>& parts);

// What the records of one process tell, in order: their kinds, and from
// them the boot's outcome, for its last record. One a process (records()).
class Records {
public:
    // The kind of a record (function: its writing site, "" for a warning)
    // with its fields; a record of the boot's last kind gets the kind of the
    // outcome that the records before it tell. Remembers it as the next of
    // this process's records.
    Classified classify(const std::string& text, const std::string& function);

private:
    std::mutex lock_;
    bool started_ = false;
    bool attempted_ = false;
    bool lastRunNotFound_ = false;
    int failedStarts_ = 0;
    bool lastCleanUpFailed_ = false;
};

Records& records();

}  // namespace orvel_public::detail
