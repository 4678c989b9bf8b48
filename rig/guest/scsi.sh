# What the cases send to an enclosure through an independent SCSI client, sg3-utils, beside
# korvane-fw. Its programs exit with the category of the sense they got: 0 GOOD, 5 ILLEGAL
# REQUEST other than an invalid operation code, 9 an invalid operation code.

# How sg3-utils prints the additional sense codes the bridge answers with.
RIG_INVALID_FIELD='Invalid field in (cdb|CDB)'
RIG_INVALID_OPCODE='Invalid command operation code'

# raw_in CODE SG LENGTH BYTE...: sg_raw sends the CDB, its bytes in hex, to SG with room for
# LENGTH bytes of data-in, and must exit with CODE. The bytes that came in are in $RIG_TMP/data.
# Without --cmdset=1 sg_raw takes a CDB of some lengths (9 bytes) for an NVMe command and reads
# its answer as one.
raw_in() {
  local want=$1 sg=$2 length=$3
  shift 3
  rm -f "$RIG_TMP/data"
  expect_exit "$want" sg_raw --cmdset=1 --request="$length" --outfile="$RIG_TMP/data" "$sg" "$@"
}

# raw_data_size: how many bytes the last raw_in received.
raw_data_size() {
  if [ -e "$RIG_TMP/data" ]; then wc -c <"$RIG_TMP/data" | tr -d ' '; else echo 0; fi
}

# raw_data_text FROM COUNT: those bytes of what the last raw_in received, as text.
raw_data_text() {
  dd if="$RIG_TMP/data" bs=1 skip="$1" count="$2" 2>/dev/null
}

# expect_raw_size COUNT: the last raw_in received exactly COUNT bytes.
expect_raw_size() {
  local got
  got=$(raw_data_size)
  [ "$got" -eq "$1" ] || rig_fail "received $got bytes, expected $1"
}

# bridge_received HEX: the gadget (started with --verbose) on dummy_udc.0 logged that its bridge
# received exactly this CDB, upper-case hex bytes separated by blanks, and answered it so:
# bridge_received 'E0 F4 E7 00 00 00 -> CHECK CONDITION 05/24/00'.
bridge_received() {
  grep -Fq "bridge $1" "$RIG_TMP/gadget-dummy_udc.0.log" ||
    rig_fail "the bridge's log has no 'bridge $1'"
}
