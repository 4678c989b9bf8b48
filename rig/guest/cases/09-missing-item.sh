# A JMS583 without a chip tag, a flash type and a configuration word: reading one of them (the
# 0xFF items 0x30 and 0x23, the 0xDF item 0xFF) is refused with ILLEGAL REQUEST, invalid field in
# CDB, as an item no chip knows (0xFF item 0x99) is, since the opcodes are supported; the status
# item answers. The vendor 0xB5 read, an opcode the chip lacks, is an invalid operation code.
# drivers: bot uas
# time: 40

cat >"$RIG_TMP/lacking.json" <<'JSON'
{"disks": [
  {"path": "usbstor#disk&ven_korvane&prod_jms583-lacking", "bridge": "jms583", "firmware": "0.0.0.8",
   "inquiry": {"vendor": "Korvane ", "product": "NVMe Enclosure  "},
   "chip_tag": null, "flash_type": null, "config_word": null, "b5": false}
]}
JSON
start_gadget "$RIG_DRIVER" dummy_udc.0 "$RIG_TMP/lacking.json" || rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"

raw_in 0 "$sg" 2 ff 04 12 00 00 00 00 00 00 00 00 00
raw_in 5 "$sg" 8 ff 04 30 08 00 00 00 00 00 00 00 00
expect_last "$RIG_INVALID_FIELD"
raw_in 5 "$sg" 4 ff 04 23 04 00 00 00 00 00 00 00 00
expect_last "$RIG_INVALID_FIELD"
raw_in 5 "$sg" 2 df 10 00 00 02 00 00 00 00 00 00 ff
expect_last "$RIG_INVALID_FIELD"
raw_in 5 "$sg" 8 ff 04 99 00 00 00 00 00 00 00 00 00
expect_last "$RIG_INVALID_FIELD"
raw_in 9 "$sg" 512 b5 00 00 00 00 64 00 00 01 00 00 00
expect_last "$RIG_INVALID_OPCODE"
stop_gadget dummy_udc.0 || rig_fail "the enclosure did not unplug"
rig_pass
