# Checks the check of a vendor's image folder: what configure asks (cmake/FirmwareImages.cmake:
# the files are there) and what the build runs before it embeds them (korvane-imagegen --check,
# the update's own image check). Generated images pass, and each kind of damage fails with a
# line that names the file and its problem.
# Run with -DIMAGEGEN=<korvane-imagegen> -DSETBYTE=<korvane-setbyte> -DCHECKER=<FirmwareImages.cmake>
# -DWORK_DIR=<scratch folder> -P FirmwareImagesTest.cmake.

include(${CHECKER})

function(fail text)
  message(SEND_ERROR "${text}")
endfunction()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed: ${error}")
  endif()
endfunction()

# A fresh copy of the good images in WORK_DIR/<name>.
function(copy_of_good name out_var)
  set(folder ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${folder})
  file(COPY ${WORK_DIR}/good/ DESTINATION ${folder})
  set(${out_var} ${folder} PARENT_SCOPE)
endfunction()

# Runs korvane-imagegen --check on folder: "accept", or "reject" with every text in ARGN in what
# it prints.
function(expect folder verdict)
  execute_process(COMMAND ${IMAGEGEN} --check ${folder}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(verdict STREQUAL "accept")
    if(NOT result EQUAL 0 OR NOT output MATCHES "the 4 images pass their check")
      fail("${folder} was rejected:\n${error}")
    endif()
    return()
  endif()
  if(result EQUAL 0)
    fail("${folder} was accepted:\n${output}")
    return()
  endif()
  foreach(text IN LISTS ARGN)
    string(FIND "${error}" "${text}\n" at)
    if(at EQUAL -1)
      fail("${folder}: the message lacks the line \"${text}\":\n${error}")
    endif()
  endforeach()
endfunction()

# What configure finds in folder: every text in ARGN, and nothing when none is given.
function(expect_at_configure folder)
  korvane_firmware_problems("${folder}" problems)
  if(NOT problems STREQUAL "${ARGN}")
    fail("${folder}: configure found \"${problems}\", expected \"${ARGN}\"")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
run(${IMAGEGEN} ${WORK_DIR}/good)
run(${IMAGEGEN} ${WORK_DIR}/again)
foreach(name JMS578_FW JMS583_V234_01_00_02 JMS583_FW JMS583_ROM_MFG)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/good/${name}.bin
                          ${WORK_DIR}/again/${name}.bin RESULT_VARIABLE differs)
  if(differs)
    fail("two runs of the generator wrote different ${name}.bin")
  endif()
endforeach()

expect(${WORK_DIR}/good accept)

# The rig's images: the same layout, accepted as a vendor's folder, and no development marker.
run(${IMAGEGEN} --no-marker ${WORK_DIR}/unmarked)
expect(${WORK_DIR}/unmarked accept)
foreach(name JMS578_FW JMS583_V234_01_00_02 JMS583_FW JMS583_ROM_MFG)
  file(STRINGS ${WORK_DIR}/good/${name}.bin marked REGEX "KORVANE DEVELOPMENT IMAGE")
  file(STRINGS ${WORK_DIR}/unmarked/${name}.bin unmarked REGEX "KORVANE DEVELOPMENT IMAGE")
  if(NOT marked OR unmarked)
    fail("${name}.bin: only the development image may carry the marker")
  endif()
endforeach()

copy_of_good(missing folder)
file(REMOVE ${folder}/JMS583_FW.bin)
expect(${folder} reject "${folder}/JMS583_FW.bin: missing")
expect_at_configure(${folder} "${folder}/JMS583_FW.bin: missing")

copy_of_good(short folder)
file(WRITE ${folder}/JMS583_ROM_MFG.bin "not an image")
expect(${folder} reject
       "${folder}/JMS583_ROM_MFG.bin: the image has 12 bytes where a JMS583 loader image has 65536")
# Configure asks only that the files be there; their bytes are the build's to judge.
expect_at_configure(${folder})
expect_at_configure(${WORK_DIR}/good)

# One damaged byte: file, offset, new value, the line that names it.
set(damages
  "JMS583_FW|5|0x79|JMS583_FW.bin: the chip number at 0x004 is 05 79: an image for a JMS578, not a JMS583"
  "JMS578_FW|5|0x83|JMS578_FW.bin: the chip number at 0x004 is 05 83: an image for a JMS583, not a JMS578"
  "JMS583_FW|4|0x06|JMS583_FW.bin: the chip number at 0x004 is 06 83 where a JMS583 image has 05 83"
  "JMS583_FW|0|0x00|JMS583_FW.bin: the start at 0x000 is 00 00 where an image has 01 00"
  "JMS583_FW|3|0x2C|JMS583_FW.bin: the USB vendor id at 0x002 is 15 2C where an image has 15 2D"
  "JMS583_V234_01_00_02|9|0x06|JMS583_V234_01_00_02.bin: the kind at 0x006 is 03 03 05 06 where a firmware image has 03 03 05 05"
  "JMS583_ROM_MFG|6|0x03|JMS583_ROM_MFG.bin: the kind at 0x006 is 03 04 06 06 where a loader image has 04 04 06 06"
  "JMS578_FW|0x17|0x38|JMS578_FW.bin: the model text at 0x00A is \"JMicron JMS578\" where a JMS578 image has \"JMicron JMS579\""
  "JMS583_V234_01_00_02|0x201|0x00|JMS583_V234_01_00_02.bin: the signature at 0x200 is 5A 00 69 E1 where a firmware image has 5A C3 69 E1"
  "JMS583_V234_01_00_02|0x20B|0x03|JMS583_V234_01_00_02.bin: the version copies disagree: 00 00 01 03 at 0x208, 00 00 01 02 at 0x019"
  "JMS583_V234_01_00_02|0x103EF|0x03|JMS583_V234_01_00_02.bin: the version copies disagree: 00 00 01 03 at 0x103EC, 00 00 01 02 at 0x019"
  "JMS578_FW|0xC3EC|0x31|JMS578_FW.bin: the version copies disagree: 31 32 31 34 at 0xC3EC, 30 32 31 34 at 0x019"
  "JMS578_FW|0xC3F7|0x31|JMS578_FW.bin: the trailer at 0xC3F0 is 55 AA AA 55 35 37 38 31 where a JMS578 image has 55 AA AA 55 35 37 38 30"
)
set(index 0)
foreach(damage IN LISTS damages)
  string(REPLACE "|" ";" fields "${damage}")
  list(GET fields 0 name)
  list(GET fields 1 offset)
  list(GET fields 2 value)
  list(GET fields 3 message)
  math(EXPR index "${index} + 1")
  copy_of_good(damaged-${index} folder)
  run(${SETBYTE} ${folder}/${name}.bin ${offset} ${value})
  expect(${folder} reject "${folder}/${message}")
endforeach()

copy_of_good(several folder)
file(REMOVE ${folder}/JMS578_FW.bin)
file(WRITE ${folder}/JMS583_FW.bin "")
run(${SETBYTE} ${folder}/JMS583_ROM_MFG.bin 0x18 0x00)
expect(${folder} reject "${folder}/JMS578_FW.bin: missing"
       "${folder}/JMS583_FW.bin: the image has 0 bytes where a JMS583 firmware image has 67072"
       "${folder}/JMS583_ROM_MFG.bin: the byte at 0x018 is 00 where an image has 01"
       "korvane-imagegen: ${folder}: images that fail the check: 3 of 4")

expect(${WORK_DIR}/absent reject "korvane-imagegen: ${WORK_DIR}/absent: not a folder")
expect_at_configure(${WORK_DIR}/absent "${WORK_DIR}/absent: not a folder")

# The script alone no longer judges anything: it says which command does.
execute_process(COMMAND ${CMAKE_COMMAND} -DKORVANE_FIRMWARE_DIR=${WORK_DIR}/good -P ${CHECKER}
                RESULT_VARIABLE result ERROR_VARIABLE error)
if(result EQUAL 0 OR NOT error MATCHES "korvane-imagegen --check")
  fail("cmake -P ${CHECKER} should point to korvane-imagegen --check:\n${error}")
endif()
