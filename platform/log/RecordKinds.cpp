#include "RecordKinds.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace orvel_public::detail {

namespace {

const std::vector<RecordKind> kKinds = {
#include "records.inc"
};

// Where a part of the text begins, and its length.
using Spans = std::vector<std::pair<size_t, size_t>>;

// Matches text from t against pattern from p; a %s takes as little as lets
// the rest match, a %d an optional sign and digits. The parts are kept as
// spans, and copied once the whole text has matched.
bool match(const char* p, const std::string& text, size_t t, Spans& parts) {
    for (; *p != '\0'; ++p, ++t) {
        if (p[0] == '%' && p[1] == 's') {
            for (size_t end = t; end <= text.size(); ++end) {
                parts.emplace_back(t, end - t);
                if (match(p + 2, text, end, parts)) return true;
                parts.pop_back();
            }
            return false;
        }
        if (p[0] == '%' && p[1] == 'd') {
            size_t end = t + (t < text.size() && text[t] == '-' ? 1 : 0);
            const size_t digits = end;
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) != 0) ++end;
            if (end == digits) return false;
            parts.emplace_back(t, end - t);
            if (match(p + 2, text, end, parts)) return true;
            parts.pop_back();
            return false;
        }
        if (t >= text.size() || text[t] != *p) return false;
    }
    return t == text.size();
}

bool writtenBy(const RecordKind& kind, const std::string& function) {
    if (*kind.site == '\0') return true;
    // "bool orvel_sys::CSysLauncher::doStart()" for doStart
    const std::string name = std::string(kind.site) + "(";
    const std::string::size_type at = function.find(name);
    return at != std::string::npos && (at == 0 || function[at - 1] == ':' || function[at - 1] == ' ');
}

const RecordKind* outcomeKind(const char* outcome) {
    for (const RecordKind& k : kKinds) {
        if (std::strcmp(k.outcome, outcome) == 0) return &k;
    }
    return nullptr;
}

bool is(const RecordKind* kind, const char* name) {
    return kind != nullptr && std::strcmp(kind->kind, name) == 0;
}

}  // namespace

bool partsOf(const char* pattern, const std::string& text, std::vector<std::string>& parts) {
    parts.clear();
    Spans spans;
    if (!match(pattern, text, 0, spans)) return false;
    for (const auto& [at, length] : spans) parts.push_back(text.substr(at, length));
    return true;
}

Classified Records::classify(const std::string& text, const std::string& function) {
    Classified out;
    std::vector<std::string> parts;
    for (const RecordKind& k : kKinds) {
        if (writtenBy(k, function) && partsOf(k.record, text, parts)) {
            out.kind = &k;
            break;
        }
    }
    if (out.kind == nullptr) return out;
    {
        std::lock_guard<std::mutex> held(lock_);
        const RecordKind* k = out.kind;
        if (*k->outcome != '\0') {
            const char* outcome = started_ ? (failedStarts_ > 0 ? "started-after-failures" : "started")
                                  : lastRunNotFound_   ? "control-program-not-found"
                                  : !attempted_        ? "stopped-before-started"
                                  : lastCleanUpFailed_ ? "gave-up-after-cleanups"
                                  : failedStarts_ >= 3 ? "gave-up-after-starts"
                                                       : "stopped-before-started";
            // records.txt names each outcome's kind; the generator checks it.
            if (const RecordKind* o = outcomeKind(outcome)) out.kind = o;
        }
        const bool startFailed = is(k, "start-failed") || is(k, "start-not-found");
        const bool cleanUpFailed = is(k, "stop-failed") || is(k, "stop-not-found");
        const bool runEnded =
            startFailed || cleanUpFailed || is(k, "start-succeeded") || is(k, "stop-succeeded");
        attempted_ = attempted_ || is(k, "start-begin");
        started_ = started_ || is(k, "start-succeeded");
        failedStarts_ += startFailed ? 1 : 0;
        // The program is looked up afresh at every run: only the last lookup tells.
        if (runEnded) lastRunNotFound_ = is(k, "start-not-found") || is(k, "stop-not-found");
        if (cleanUpFailed || is(k, "stop-succeeded")) lastCleanUpFailed_ = cleanUpFailed;
    }
    for (const auto& [name, value] : out.kind->fields) {
        const bool part = value[0] == '%' && std::isdigit(static_cast<unsigned char>(value[1])) != 0;
        const size_t n = part ? static_cast<size_t>(std::strtoul(value + 1, nullptr, 10)) : 0;
        out.fields.emplace_back(name, part ? (n >= 1 && n <= parts.size() ? parts[n - 1] : "") : value);
    }
    return out;
}

Records& records() {
    static Records r;
    return r;
}

}  // namespace orvel_public::detail
