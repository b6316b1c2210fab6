# The shell suites' one way to assert: source it, then
#   expect WHAT EXPECTED ACTUAL        equal
#   expect_match WHAT PATTERN ACTUAL   ACTUAL matches the extended regular expression
#   fail WHAT                          a failure of its own
# Each prints "ok: WHAT" or "FAIL: WHAT ...", prefixed with [$scenario] where
# the caller sets one, and counts failures in $failures.
failures=0
_said() { echo "$1${scenario:+ [$scenario]}: $2"; }
fail() { _said FAIL "$*"; failures=$((failures + 1)); }
expect() {
  if [ "$2" = "$3" ]; then _said ok "$1"; else fail "$1: expected $(printf '%q' "$2"), got $(printf '%q' "$3")"; fi
}
expect_match() {
  if [[ "$3" =~ $2 ]]; then _said ok "$1"; else fail "$1: $(printf '%q' "$3") does not match /$2/"; fi
}
