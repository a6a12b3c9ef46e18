# The update engine's sources and its payloads: one definition for the
# Windows program (cmake/WindowsTarget.cmake) and the native tests
# (tests/native), which build the same sources against a fake Win32.
include_guard(DIRECTORY)

# The sources both builds compile: the serial link, the update engine, the
# system's error texts and the dialog. The Windows program adds the registry
# record and the help; the native tests put a fake Win32 and framework under
# them, keep the registry record in memory and open no help.
set(QV_ENGINE_SOURCES
  ${CMAKE_SOURCE_DIR}/framework/SystemError.cpp
  ${CMAKE_SOURCE_DIR}/serial/SerialLink.cpp
  ${CMAKE_SOURCE_DIR}/ui/RunView.cpp
  ${CMAKE_SOURCE_DIR}/ui/UpdateDlg.cpp
  ${CMAKE_SOURCE_DIR}/update/BlockTable.cpp
  ${CMAKE_SOURCE_DIR}/update/Identify.cpp
  ${CMAKE_SOURCE_DIR}/update/ProgramLoad.cpp
  ${CMAKE_SOURCE_DIR}/update/RunUpdate.cpp
  ${CMAKE_SOURCE_DIR}/ui/Texts.cpp
  ${CMAKE_SOURCE_DIR}/update/Transfer.cpp)

# The payload sizes are written once, in payload/Payload.h; read them from there.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/payload/Payload.h)
function(_qv_payload_size constant out)
  file(STRINGS ${CMAKE_SOURCE_DIR}/payload/Payload.h line REGEX "^const int ${constant} = [0-9]+;")
  if(NOT line MATCHES "^const int ${constant} = ([0-9]+)")
    message(FATAL_ERROR "payload/Payload.h must define ${constant} as 'const int ${constant} = <bytes>;'")
  endif()
  set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()
_qv_payload_size(kFirmwareImageBytes QV_FIRMWARE_IMAGE_BYTES)
_qv_payload_size(kWriteControlProgramBytes QV_WRITE_CONTROL_PROGRAM_BYTES)

# qv_embed_payloads(DIR <dir> SOURCES <var> [IMAGE <file>] [PROGRAM <file>]
#                   [IMAGE_FILE <var>] [PROGRAM_FILE <var>])
# Validates the firmware image and the write control program at build time
# and writes them out as C++ arrays in <dir>; SOURCES receives the two
# generated sources, IMAGE_FILE and PROGRAM_FILE the payload files' paths. An
# IMAGE or PROGRAM left empty is a placeholder generated in <dir>: it writes
# no real firmware.
function(qv_embed_payloads)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "DIR;SOURCES;IMAGE;PROGRAM;IMAGE_FILE;PROGRAM_FILE" "")
  file(MAKE_DIRECTORY ${ARG_DIR})
  if("${ARG_IMAGE}" STREQUAL "" OR "${ARG_PROGRAM}" STREQUAL "")
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    add_custom_command(
      OUTPUT ${ARG_DIR}/placeholder-firmware-image.bin ${ARG_DIR}/placeholder-write-control-program.bin
      COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/make_placeholder_payloads.py ${ARG_DIR}
              ${QV_FIRMWARE_IMAGE_BYTES} ${QV_WRITE_CONTROL_PROGRAM_BYTES}
      DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make_placeholder_payloads.py
      COMMENT "Generating placeholder payloads (they write no real firmware)")
  endif()
  if("${ARG_IMAGE}" STREQUAL "")
    set(_image ${ARG_DIR}/placeholder-firmware-image.bin)
  else()
    get_filename_component(_image "${ARG_IMAGE}" ABSOLUTE)
  endif()
  if("${ARG_PROGRAM}" STREQUAL "")
    set(_program ${ARG_DIR}/placeholder-write-control-program.bin)
  else()
    get_filename_component(_program "${ARG_PROGRAM}" ABSOLUTE)
  endif()

  add_custom_command(
    OUTPUT ${ARG_DIR}/FirmwareImage.cpp
    COMMAND ${CMAKE_COMMAND} -DINPUT=${_image} -DOUTPUT=${ARG_DIR}/FirmwareImage.cpp -DSYMBOL=FirmwareImage
            -DSIZE=${QV_FIRMWARE_IMAGE_BYTES} "-DWHAT=Firmware image" -P ${CMAKE_SOURCE_DIR}/cmake/EmbedPayload.cmake
    DEPENDS ${_image} ${CMAKE_SOURCE_DIR}/cmake/EmbedPayload.cmake
    COMMENT "Embedding the firmware image")
  add_custom_command(
    OUTPUT ${ARG_DIR}/WriteControlProgram.cpp
    COMMAND ${CMAKE_COMMAND} -DINPUT=${_program} -DOUTPUT=${ARG_DIR}/WriteControlProgram.cpp
            -DSYMBOL=WriteControlProgram -DSIZE=${QV_WRITE_CONTROL_PROGRAM_BYTES} -DLENGTH_FIELD=ON
            "-DWHAT=Write control program" -P ${CMAKE_SOURCE_DIR}/cmake/EmbedPayload.cmake
    DEPENDS ${_program} ${CMAKE_SOURCE_DIR}/cmake/EmbedPayload.cmake
    COMMENT "Embedding the write control program")

  set(${ARG_SOURCES} ${ARG_DIR}/FirmwareImage.cpp ${ARG_DIR}/WriteControlProgram.cpp PARENT_SCOPE)
  if(ARG_IMAGE_FILE)
    set(${ARG_IMAGE_FILE} ${_image} PARENT_SCOPE)
  endif()
  if(ARG_PROGRAM_FILE)
    set(${ARG_PROGRAM_FILE} ${_program} PARENT_SCOPE)
  endif()
endfunction()
