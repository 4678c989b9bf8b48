# Checks cmake/FirmwareImages.cmake as configure uses it on KORVANE_FIRMWARE_DIR: generated images
# pass, and each kind of damage stops it with a message that names the file and the problem.
# Run with -DIMAGEGEN=<korvane-imagegen> -DSETBYTE=<korvane-setbyte> -DCHECKER=<FirmwareImages.cmake>
# -DWORK_DIR=<scratch folder> -P FirmwareImagesTest.cmake.

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

# Runs the checker on folder: "accept", or "reject" with every text in ARGN in its message.
function(expect folder verdict)
  execute_process(COMMAND ${CMAKE_COMMAND} -DKORVANE_FIRMWARE_DIR=${folder} -P ${CHECKER}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(verdict STREQUAL "accept")
    if(NOT result EQUAL 0)
      fail("${folder} was rejected:\n${error}")
    endif()
    return()
  endif()
  if(result EQUAL 0)
    fail("${folder} was accepted:\n${output}")
    return()
  endif()
  foreach(text IN LISTS ARGN "KORVANE_FIRMWARE_DIR does not hold the four firmware images")
    string(FIND "${error}" "${text}" at)
    if(at EQUAL -1)
      fail("${folder}: the message lacks \"${text}\":\n${error}")
    endif()
  endforeach()
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

copy_of_good(short folder)
file(WRITE ${folder}/JMS583_ROM_MFG.bin "not an image")
expect(${folder} reject "${folder}/JMS583_ROM_MFG.bin: 12 bytes, expected 65536")

# Header and signature damage: file, offset, new value, expected message.
set(damages
  "JMS578_FW|5|0x83|JMS578_FW.bin: header byte 0x5 is 83, expected 79 (the header is 01 00 15 2D 05 79 03 03 05 05)"
  "JMS583_FW|0|0x00|JMS583_FW.bin: header byte 0x0 is 00, expected 01"
  "JMS583_FW|3|0x2C|JMS583_FW.bin: header byte 0x3 is 2C, expected 2D"
  "JMS583_V234_01_00_02|9|0x06|JMS583_V234_01_00_02.bin: header byte 0x9 is 06, expected 05"
  "JMS583_ROM_MFG|6|0x03|JMS583_ROM_MFG.bin: header byte 0x6 is 03, expected 04 (the header is 01 00 15 2D 05 83 04 04 06 06)"
  "JMS583_V234_01_00_02|0x201|0x00|JMS583_V234_01_00_02.bin: no signature 5A C3 69 E1 at 0x200 (found 5A 00 69 E1)"
  "JMS578_FW|0x203|0xE2|JMS578_FW.bin: no signature 5A C3 69 E1 at 0x200 (found 5A C3 69 E2)"
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
expect(${folder} reject "${folder}/JMS578_FW.bin: missing" "${folder}/JMS583_FW.bin: 0 bytes, expected 67072")

expect(${WORK_DIR}/absent reject "${WORK_DIR}/absent: not a folder")
