#!/usr/bin/env bash
# korvane-fw where a shell puts its outputs: a standard output whose reader is gone, a trace FIFO
# whose reader leaves half-way, a link, a folder. A broken output is said once and the update
# goes on to its outcome; what a path is stays what it was.
# usage: broken-output.sh KORVANE_FW
set -uo pipefail
fw=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# The updates back up first, into the test's own folder.
export XDG_STATE_HOME=$dir/state
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
count() { grep -c -- "$1" "$2" || true; }

# A simulated enclosure that was updated offers nothing more: its check exits 0.
updated() { "$fw" --simulate "$1" check >/dev/null 2>&1; }

# Standard output is a pipe nobody reads any more: every write to it fails with EPIPE.
mkfifo "$dir/pipe"
exec 4<>"$dir/pipe" 5>"$dir/pipe"
exec 4<&-
"$fw" --simulate jms583-outdated --save-state "$dir/s1.json" update --yes >&5 2>"$dir/err1"
code=$?
exec 5>&-
[ "$code" -eq 0 ] || fail "update with its output closed exited $code, not 0 (141 is SIGPIPE)"
[ "$(count 'standard output was closed' "$dir/err1")" -eq 1 ] ||
  fail "expected one warning about standard output, got: $(cat "$dir/err1")"
updated "$dir/s1.json" || fail "the state saved after the update still offers an update"

# The pipeline of a user who wants the first line only.
"$fw" --simulate jms583-outdated --save-state "$dir/s2.json" update --yes 2>/dev/null | head -n 1 >/dev/null
code=${PIPESTATUS[0]}
[ "$code" -eq 0 ] || fail "update | head -n 1 exited $code, not 0"
updated "$dir/s2.json" || fail "update | head -n 1 did not save the updated enclosure"

# A trace FIFO whose reader takes 100 bytes and leaves: the update's trace is far longer than the
# pipe holds, so the writes after it fail.
mkfifo "$dir/trace"
exec 6<>"$dir/trace"
head -c 100 <&6 >/dev/null &
reader=$!
exec 6<&-
"$fw" --simulate jms583-outdated --trace "$dir/trace" --save-state "$dir/s3.json" update --yes \
  >"$dir/out3" 2>"$dir/err3"
code=$?
wait "$reader"
[ "$code" -eq 0 ] || fail "update with a trace FIFO whose reader left exited $code: $(cat "$dir/err3")"
[ "$(count 'the trace stopped' "$dir/err3")" -eq 1 ] ||
  fail "expected one warning about the trace, got: $(cat "$dir/err3")"
grep -q '^Update complete$' "$dir/out3" || fail "no 'Update complete' after the trace broke"
[ -p "$dir/trace" ] || fail "the trace FIFO is no longer a FIFO"
updated "$dir/s3.json" || fail "the state was not saved after the trace broke"

# A link stays a link and its target holds the trace; a folder is refused before anything runs.
: >"$dir/real"
ln -s real "$dir/link"
"$fw" --simulate jms583-outdated --trace "$dir/link" check >/dev/null 2>&1
[ -L "$dir/link" ] || fail "the link was replaced"
grep -q '"cdb":"12' "$dir/real" || fail "the link's target holds no trace"
mkdir "$dir/folder"
"$fw" --simulate jms583-outdated --trace "$dir/folder" check >/dev/null 2>"$dir/err4"
code=$?
[ "$code" -eq 2 ] || fail "a folder as the trace exited $code, not 2"
grep -q 'is a folder' "$dir/err4" || fail "the refusal does not say it is a folder: $(cat "$dir/err4")"

[ "$failures" -eq 0 ] && echo "broken-output: all passed"
exit "$failures"
