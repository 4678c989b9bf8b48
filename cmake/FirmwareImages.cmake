# The images every program carries: resource names, types and file names. The build includes
# this file. Configure asks only that a vendor's files be there; what they hold is judged by the
# update's own image check, which the build runs before it embeds them (tools/CMakeLists.txt).
# By hand, `korvane-imagegen --check <folder>` runs the same check.

# The images come from the firmware catalogue, update/FirmwareCatalogue.def; the carried ones,
# in the order of its rows, are KORVANE_IMAGE_NAMES, and KORVANE_IMAGE_<name> is the resource
# type.
set(KORVANE_CATALOGUE ${CMAKE_CURRENT_LIST_DIR}/../update/FirmwareCatalogue.def)

# The carried images of the image rows.
function(_korvane_read_images rows)
  set(names "")
  foreach(row IN LISTS rows)
    if(NOT row MATCHES "^KORVANE_IMAGE\\([A-Za-z0-9_]+, *[A-Z_]+, *([A-Za-z0-9_]+), *([A-Za-z0-9_]+), *[0-9]+,.*, *([A-Z]+)\\)$")
      continue()
    endif()
    if(NOT CMAKE_MATCH_3 STREQUAL "CARRIED")
      continue()
    endif()
    list(APPEND names ${CMAKE_MATCH_1})
    set(KORVANE_IMAGE_${CMAKE_MATCH_1} ${CMAKE_MATCH_2} PARENT_SCOPE)
  endforeach()
  set(KORVANE_IMAGE_NAMES ${names} PARENT_SCOPE)
endfunction()

file(STRINGS ${KORVANE_CATALOGUE} _korvane_rows REGEX "^KORVANE_IMAGE\\(")
_korvane_read_images("${_korvane_rows}")
if(NOT CMAKE_SCRIPT_MODE_FILE)
  # A new row configures the build again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KORVANE_CATALOGUE})
endif()

# The folder the build takes the images from: the vendor's, or the one the generator writes.
function(korvane_image_folder out_var)
  if(KORVANE_FIRMWARE_DIR)
    set(${out_var} "${KORVANE_FIRMWARE_DIR}" PARENT_SCOPE)
  else()
    set(${out_var} "${CMAKE_BINARY_DIR}/firmware-images" PARENT_SCOPE)
  endif()
endfunction()

# 1 when the build generates development images, 0 when it carries the vendor's.
function(korvane_development_images out_var)
  if(KORVANE_FIRMWARE_DIR)
    set(${out_var} 0 PARENT_SCOPE)
  else()
    set(${out_var} 1 PARENT_SCOPE)
  endif()
endfunction()

# The path of every image in folder, in the order of KORVANE_IMAGE_NAMES.
function(korvane_image_files folder out_var)
  set(files "")
  foreach(name IN LISTS KORVANE_IMAGE_NAMES)
    list(APPEND files "${folder}/${name}.bin")
  endforeach()
  set(${out_var} "${files}" PARENT_SCOPE)
endfunction()

# What configure finds wrong with one image file: that it is not there.
function(_korvane_image_problem file out_var)
  set(${out_var} "" PARENT_SCOPE)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    set(${out_var} "${file}: missing" PARENT_SCOPE)
  endif()
endfunction()

# Every missing image of folder, one list item each; empty when all four are there.
function(korvane_firmware_problems folder out_var)
  set(problems "")
  if(NOT IS_DIRECTORY "${folder}")
    set(${out_var} "${folder}: not a folder" PARENT_SCOPE)
    return()
  endif()
  foreach(name IN LISTS KORVANE_IMAGE_NAMES)
    _korvane_image_problem("${folder}/${name}.bin" problem)
    if(problem)
      list(APPEND problems "${problem}")
    endif()
  endforeach()
  set(${out_var} "${problems}" PARENT_SCOPE)
endfunction()

# Stops configure, naming each missing file, unless folder holds the four images.
function(korvane_require_firmware_images folder)
  korvane_firmware_problems("${folder}" problems)
  if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "KORVANE_FIRMWARE_DIR does not hold the four firmware images:\n  ${text}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  message(FATAL_ERROR "A folder of vendor images is checked by korvane-imagegen --check <folder> "
                      "(tools/ in a build folder), with the update's own image check")
endif()
