# The host's time per WRITE BUFFER: korvane-fw's update of an outdated JMS583 against
# sg_write_buffer sending the same commands (mode 0x0e, 1024 bytes at each offset, as many as the
# update sent, the same image) to the same gadget. The gadget stamps each command as it arrives;
# the median time between two WRITE BUFFERs in a row is a program's time per command in a run,
# host and device together. The programs take turns, seven runs each, and a program's time is that
# of its quickest run: the machine's other work only ever adds time, and in bursts that can fall on
# one program's run more than on the other's. Prints, for each driver:
#   rig: write-buffer ratio [DRIVER] R (korvane-fw A ms, sg_write_buffer B ms per command)
# with R = A / B. A measurement: no ratio fails the case, but one it could not take does.
# drivers: bot uas
# time: 240

times=$RIG_TMP/command-times
sent=0
# timed PROGRAM: the gadget's lines since the last call go to $RIG_TMP/PROGRAM.times, and the
# median time between its WRITE BUFFERs to $RIG_TMP/PROGRAM.medians.
timed() {
  tail -n +$((sent + 1)) "$times" >"$RIG_TMP/$1.times"
  sent=$((sent + $(wc -l <"$RIG_TMP/$1.times")))
  write_buffer_gaps "$RIG_TMP/$1.times" | median >>"$RIG_TMP/$1.medians" ||
    rig_fail "no two WRITE BUFFERs of $1 in a row"
  # Each WRITE BUFFER either program sends has the same shape: mode 0x0e, buffer 0, 1024 bytes.
  odd=$(grep ' 3b' "$RIG_TMP/$1.times" | grep -v ' 3b0e00[0-9a-f]\{6\}00040000' | head -n 1)
  [ -z "$odd" ] || rig_fail "$1 sent a WRITE BUFFER of another shape: $odd"
}

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated --command-times "$times" ||
  rig_fail "jms583-outdated did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for jms583-outdated"
for run in 1 2 3 4 5 6 7; do
  # Without a replug the bridge runs its old firmware still, and the update is offered again.
  expect_exit 0 korvane-fw update --yes
  expect_last '^Update complete$'
  timed korvane-fw
  if [ "$run" = 1 ]; then
    count=$(grep -c ' 3b' "$RIG_TMP/korvane-fw.times")
    { cat /rig/images/JMS583_FW.bin && dd if=/dev/zero bs=1024 count="$count" 2>/dev/null; } |
      head -c $((count * 1024)) >"$RIG_TMP/blocks" || rig_fail "no file of $count blocks"
  fi
  expect_exit 0 sg_write_buffer --mode=0x0e --bpw=1024 --in="$RIG_TMP/blocks" \
    --length=$((count * 1024)) "$sg"
  timed sg_write_buffer
  [ "$(grep -c ' 3b' "$RIG_TMP/sg_write_buffer.times")" -eq "$count" ] ||
    rig_fail "sg_write_buffer did not send the $count WRITE BUFFERs of korvane-fw"
done
for program in korvane-fw sg_write_buffer; do
  echo "$program, ms per command in each run: $(tr '\n' ' ' <"$RIG_TMP/$program.medians")"
done
a=$(sort -n "$RIG_TMP/korvane-fw.medians" | head -n 1)
b=$(sort -n "$RIG_TMP/sg_write_buffer.medians" | head -n 1)
r=$(awk -v a="$a" -v b="$b" 'BEGIN { if (b > 0) printf "%.2f", a / b }')
[ -n "$r" ] || rig_fail "sg_write_buffer took no time per command: $b ms"
rig_say "rig: write-buffer ratio [$RIG_DRIVER] $r (korvane-fw $a ms, sg_write_buffer $b ms per command)"
stop_gadget dummy_udc.0 || rig_fail "jms583-outdated did not unplug"
rig_pass
