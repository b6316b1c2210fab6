# Reading what the Windows build wrote, for the suites that run it under Wine.

# Windows programs write CRLF line ends.
unix() { [ -f "$1" ] && tr -d '\r' <"$1"; }

# A log file's records, one a line, without time stamps and writing sites;
# continuation lines joined with '|'.
log_records() {
  unix "$1" | awk '
    /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] / { if (r != "") print r; sub(/^[^]]*\] [^ ]* - /, ""); r = $0; next }
    { r = r "|" $0 }
    END { if (r != "") print r }'
}
