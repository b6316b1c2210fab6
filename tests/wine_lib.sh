# What the suites that run the Windows build under Wine share. The callers
# set $helpers (the folder of the test programs) and $drive_c (the prefix's C:).

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

# A value of a registry key, as reg export writes it (UTF-16, so through
# iconv): Wine's sc has no qc to ask the service manager.
reg_value() {
  rm -f "$drive_c/key.reg"
  wine reg export "$1" 'C:\key.reg' /y >/dev/null 2>&1 || { echo "(no key)"; return; }
  iconv -f UTF-16 -t UTF-8 "$drive_c/key.reg" | tr -d '\r' | sed -n "s/^\"$2\"=//p"
}

# Places the fake sys_ctrl.exe into ROOT's bin\, with its plan (printf escapes).
place_sys_ctrl() {
  cp "$helpers/fake_sys_ctrl.exe" "$1/bin/sys_ctrl.exe"
  printf '%b' "$2" >"$1/bin/sys_ctrl.plan"
}
