# KorvaneUpdateTool.exe itself, on a virtual display in the guest, finds the emulated JMS583
# through SetupAPI and opens with the offer; a click on the status text updates it through Wine
# and the kernel's driver, and the window ends with "Update complete". The window is
# photographed in both states, to guest-out/window-offer-DRIVER.png and
# window-update-complete-DRIVER.png. After the replug the bridge runs the new firmware. (That
# the window closes cleanly is the demo window's test: each probe costs seconds here.)
# drivers: bot uas
# needs: wine
# time: 240

offer="Click here to download and update the Korvane NVMe Bridge 234.01.00.02"

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the JMS583 did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the JMS583"
wine_register_disk "$RIG_DRIVER" "$sg" >/dev/null || rig_fail "the disk could not be made known to Wine"
start_window
# Each answer of the probe is one line: the status text's centre, then the window's rectangle.
seen=$(probe wait-status "$offer" 120000 -- status-point -- window-rect) ||
  rig_fail "the window did not offer the update"
wine_screenshot "window-offer-$RIG_DRIVER" "$(echo "$seen" | sed -n 2p)" ||
  rig_fail "no screenshot of the offer"
# shellcheck disable=SC2046  # "X Y" are two arguments
wine_click $(echo "$seen" | sed -n 1p) || rig_fail "the status text could not be clicked"
rect=$(probe wait-status "Update complete" 120000 -- expect Image3 text=GOOD -- window-rect) ||
  rig_fail "the update did not complete with the good picture"
wine_screenshot "window-update-complete-$RIG_DRIVER" "$rect" || rig_fail "no screenshot of the result"

replug_gadget dummy_udc.0 || rig_fail "the JMS583 did not come back after the replug"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node after the replug"
expect_exit 0 korvane-fw list
expect_last "\| firmware 0\.0\.1\.2(, release [^|]+)? \| $sg\$"
rig_pass
