# What the suites that run the Windows build under Wine share. The callers
# set $helpers (the folder of the test programs) and $top (the source tree's),
# and start with wine_group_prefix, which sets $drive_c (the prefix's C:).

# A fresh Wine prefix of the group's own in DIR/prefix, initialised, its
# server ended when the group ends.
wine_group_prefix() {
  export LC_ALL=C.UTF-8  # Wine converts arguments and paths through the locale
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX=$1/prefix
  rm -rf "$1"
  mkdir -p "$WINEPREFIX"
  trap 'wineserver -k 2>/dev/null' EXIT
  "$top/scripts/wine-run" "$WINEPREFIX" || { echo "FAIL: Wine prefix did not initialise"; exit 1; }
  drive_c=$WINEPREFIX/drive_c
}

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

# A REG_EXPAND_SZ value as text: reg export writes it as hex(2): bytes of
# UTF-16, over several lines.
reg_expand_sz() {
  rm -f "$drive_c/key.reg"
  wine reg export "$1" 'C:\key.reg' /y >/dev/null 2>&1 || { echo "(no key)"; return; }
  iconv -f UTF-16 -t UTF-8 "$drive_c/key.reg" | tr -d '\r' | python3 -c '
import re, sys
text = sys.stdin.read().replace("\\\n", "")
m = re.search(r"^\"%s\"=hex\(2\):([0-9a-f,\s]*)$" % re.escape(sys.argv[1]), text, re.M)
print(bytes.fromhex(m.group(1).replace(",", "").replace(" ", "")).decode("utf-16-le").rstrip("\0") if m else "(not REG_EXPAND_SZ)")' "$2"
}

# A table of an MSI as msiinfo exports it, without its three heading lines
# and its CR line ends, sorted, columns joined by |.
msi_rows() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4 | LC_ALL=C sort | tr '\t' '|'; }

key_exists() { wine reg query "$1" >/dev/null 2>&1 && echo yes || echo no; }
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\quendra_launcher'

# sys_ctrl's words as ROOT's log\BASE\ventrix.sys_ctrl.log holds them, the
# time in each run's heading as T.
sys_ctrl_output() {
  unix "$1/log/BASE/ventrix.sys_ctrl.log" | sed 's/^---- [0-9-]* [0-9:.]* /---- T /'
}

# Stopped is reported before the process has written its last record and
# ended. Returns once no ventrix.exe of this prefix runs, 1 when one still
# does after 10 s.
await_ventrix_gone() {
  local pid i
  for i in $(seq 1 100); do
    pid=$(for p in $(pgrep -f 'ventrix\.exe'); do
      { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$p"; done)
    [ -z "$pid" ] && return 0
    sleep 0.1
  done
  return 1
}
