# KorvaneUpdateTool.exe itself, on a virtual display in the guest, finds the emulated JMS583
# through SetupAPI and opens with the offer; a click on the status text updates it through Wine
# and the kernel's driver, and the window ends with "Update complete". The window is
# photographed in both states, to guest-out/window-offer-DRIVER.png and
# window-update-complete-DRIVER.png. After the replug the bridge runs the new firmware.
# drivers: bot uas
# time: 150

offer="Click here to download and update the Korvane NVMe Bridge 234.01.00.02"

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the JMS583 did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the JMS583"
wine_register_disk "$RIG_DRIVER" "$sg" >/dev/null || rig_fail "the disk could not be made known to Wine"
wine_start_display || rig_fail "no virtual display"
start_window
probe wait-status "$offer" 60000 || rig_fail "the window did not offer the update"
probe expect Image3 text=UPDATE || rig_fail "the offer does not show the update picture"
probe expect lblStaust enabled || rig_fail "the offer cannot be clicked"
wine_screenshot "window-offer-$RIG_DRIVER.png" || rig_fail "no screenshot of the offer"
wine_click_status || rig_fail "the status text could not be clicked"
probe wait-status "Update complete" 120000 || rig_fail "the update did not complete"
probe expect Image3 text=GOOD || rig_fail "the finished update does not show the good picture"
wine_screenshot "window-update-complete-$RIG_DRIVER.png" || rig_fail "no screenshot of the result"
close_window

replug_gadget dummy_udc.0 || rig_fail "the JMS583 did not come back after the replug"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node after the replug"
expect_exit 0 korvane-fw list
expect_last "\| firmware 0\.0\.1\.2 \| $sg\$"
rig_pass
