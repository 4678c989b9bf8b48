# The host's time per WRITE BUFFER: korvane-fw's update of an outdated JMS583 against
# sg_write_buffer sending the same commands (mode 0x0e, 1024 bytes at each offset, as many as the
# update sent) to the same gadget. The gadget stamps each command as it arrives; the median time
# between two WRITE BUFFERs in a row is a program's time per command, host and device together.
# Prints, for each driver:
#   rig: write-buffer ratio [DRIVER] R (korvane-fw A ms, sg_write_buffer B ms per command)
# with R = A / B. A measurement: no ratio fails the case, but one it could not take does.
# drivers: bot uas
# time: 120

times=$RIG_TMP/command-times
start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated --command-times "$times" ||
  rig_fail "jms583-outdated did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for jms583-outdated"
expect_exit 0 korvane-fw update --yes
expect_last '^Update complete$'
cp "$times" "$RIG_TMP/korvane-fw.times" || rig_fail "the gadget stamped no command"
count=$(grep -c ' 3b0e' "$RIG_TMP/korvane-fw.times")
[ "$count" -gt 1 ] || rig_fail "the gadget saw $count WRITE BUFFER commands of korvane-fw"
dd if=/dev/zero of="$RIG_TMP/blocks" bs=1024 count="$count" 2>/dev/null ||
  rig_fail "no file of $count blocks"
expect_exit 0 sg_write_buffer --mode=0x0e --bpw=1024 --in="$RIG_TMP/blocks" \
  --length=$((count * 1024)) "$sg"
skip=$(wc -l <"$RIG_TMP/korvane-fw.times")
tail -n +$((skip + 1)) "$times" >"$RIG_TMP/sg_write_buffer.times"

# Each WRITE BUFFER either program sent has the same shape: mode 0x0e, buffer 0, 1024 bytes.
for program in korvane-fw sg_write_buffer; do
  odd=$(grep ' 3b' "$RIG_TMP/$program.times" | grep -v ' 3b0e00[0-9a-f]\{6\}00040000' | head -n 1)
  [ -z "$odd" ] || rig_fail "$program sent a WRITE BUFFER of another shape: $odd"
done
a=$(median_write_buffer_ms "$RIG_TMP/korvane-fw.times") ||
  rig_fail "no two WRITE BUFFERs of korvane-fw in a row"
b=$(median_write_buffer_ms "$RIG_TMP/sg_write_buffer.times") ||
  rig_fail "no two WRITE BUFFERs of sg_write_buffer in a row"
r=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", a / b }')
rig_say "rig: write-buffer ratio [$RIG_DRIVER] $r (korvane-fw $a ms, sg_write_buffer $b ms per command)"
stop_gadget dummy_udc.0 || rig_fail "jms583-outdated did not unplug"
rig_pass
