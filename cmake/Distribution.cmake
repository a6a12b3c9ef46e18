# Distribution: the installer (NSIS) and the portable zip, written to
# ${CMAKE_BINARY_DIR}/dist with every build of the program. scripts/package.sh
# builds both with one command.
#
# makensis is required for the cross build on Linux (scripts/setup.sh installs
# it); a build on Windows without NSIS still builds the program and the zip.

option(QV_DIST "Build the installer and the portable zip" ON)
if(NOT QV_DIST)
  message(STATUS "Distribution: off (QV_DIST=OFF)")
  return()
endif()
if(NOT TARGET qv_help)
  message(WARNING "Distribution: no help file is built, so neither installer nor portable zip is")
  return()
endif()

set(QV_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
# A build with placeholder payloads says so in its packages' names, the
# installer's first page and the zip's README.txt.
if(QV_PLACEHOLDER_BUILD)
  set(QV_DIST_NAME QV6100_UPDATE-${PROJECT_VERSION}-placeholder)
  set(_nsis_placeholder -DPLACEHOLDER)
  # Windows line ends, as README.txt has (configure_file leaves a value's own).
  set(QV_README_PLACEHOLDER
      "\r\nPLACEHOLDER BUILD: this package contains no real firmware. Do not use it\r\non a QV-6100.\r\n")
else()
  set(QV_DIST_NAME QV6100_UPDATE-${PROJECT_VERSION})
  set(_nsis_placeholder "")
  set(QV_README_PLACEHOLDER "")
endif()
set(QV_SETUP ${QV_DIST_DIR}/${QV_DIST_NAME}-setup.exe)
set(QV_PORTABLE_ZIP ${QV_DIST_DIR}/${QV_DIST_NAME}-portable.zip)
set(_chm ${CMAKE_BINARY_DIR}/QV6100_UPDATE.chm)
set(_exe $<TARGET_FILE:QV6100_UPDATE>)
file(MAKE_DIRECTORY ${QV_DIST_DIR})

# ---- Signing (scripts/package.sh --sign) ------------------------------------------
# With a certificate, the program is signed before it is packed, and makensis
# has installer/sign.sh sign the uninstaller before packing it and the
# installer last. Without one nothing is signed and the packages are built as
# if signing did not exist. signed/ keeps the signed program, the signed
# uninstaller and, in signed/unsigned/, what makensis wrote before signing.
set(QV_SIGN_PFX "" CACHE FILEPATH
    "Authenticode certificate (.pfx) to sign with; its password in the environment variable QV_SIGN_PASSWORD")
set(QV_SIGN_TIMESTAMP "" CACHE STRING "Time-stamp server (RFC 3161 URL) for the signatures; empty: none")
set(_nsis_sign "")
if(NOT QV_SIGN_PFX STREQUAL "")
  # A signature tells users that a package is real.
  if(QV_PLACEHOLDER_BUILD)
    message(FATAL_ERROR "A build with placeholder payloads is never signed: give QV_FIRMWARE_IMAGE and "
                        "QV_WRITE_CONTROL_PROGRAM, or leave QV_SIGN_PFX empty")
  endif()
  if(NOT CMAKE_HOST_UNIX)
    message(FATAL_ERROR "Signing needs a Linux build (scripts/package.sh --sign)")
  endif()
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode not found: install it (scripts/setup.sh) to sign")
  endif()
  set(_signed ${CMAKE_BINARY_DIR}/signed)
  set(_sign ${CMAKE_SOURCE_DIR}/installer/sign.sh --pfx ${QV_SIGN_PFX})
  if(NOT QV_SIGN_TIMESTAMP STREQUAL "")
    list(APPEND _sign --timestamp ${QV_SIGN_TIMESTAMP})
  endif()
  add_custom_command(
    OUTPUT ${_signed}/QV6100_UPDATE.exe
    COMMAND ${_sign} "QV-6100 Update" $<TARGET_FILE:QV6100_UPDATE> ${_signed}/QV6100_UPDATE.exe
    DEPENDS QV6100_UPDATE ${QV_SIGN_PFX} ${CMAKE_SOURCE_DIR}/installer/sign.sh
    COMMENT "Signing QV6100_UPDATE.exe"
    VERBATIM)
  set(_exe ${_signed}/QV6100_UPDATE.exe)
  # One string for makensis, which runs it through the shell.
  set(_line "")
  foreach(_word IN LISTS _sign)
    string(APPEND _line " '${_word}'")
  endforeach()
  string(STRIP "${_line}" _line)
  set(_nsis_sign "-DSIGN=${_line}" -DSIGNED=${_signed})
endif()

# ---- Installer ------------------------------------------------------------------
set(_pf86 "ProgramFiles(x86)")
find_program(MAKENSIS makensis
  HINTS "$ENV{ProgramFiles}/NSIS" "$ENV{${_pf86}}/NSIS"
  DOC "makensis, the NSIS compiler")
if(MAKENSIS)
  add_custom_command(
    OUTPUT ${QV_SETUP}
    COMMAND ${MAKENSIS} -V2 -WX
            -DVERSION=${PROJECT_VERSION} -DVIVERSION=${QV_VI_VERSION} ${_nsis_placeholder} ${_nsis_sign}
            -DEXE=${_exe} -DCHM=${_chm}
            -DICON=${CMAKE_SOURCE_DIR}/ui/res/QV6100_UPDATE.ico
            -DOUTFILE=${QV_SETUP}
            ${CMAKE_SOURCE_DIR}/installer/QV6100_UPDATE.nsi
    DEPENDS QV6100_UPDATE ${_exe} ${_chm}
            ${CMAKE_SOURCE_DIR}/installer/QV6100_UPDATE.nsi ${CMAKE_SOURCE_DIR}/ui/res/QV6100_UPDATE.ico
    COMMENT "Building the installer ${QV_DIST_NAME}-setup.exe"
    VERBATIM)
  add_custom_target(qv_installer ALL DEPENDS ${QV_SETUP})
  add_dependencies(qv_installer qv_help)
elseif(CMAKE_CROSSCOMPILING)
  message(FATAL_ERROR "makensis not found: install nsis (scripts/setup.sh), or configure with -DQV_DIST=OFF")
else()
  message(WARNING "makensis not found: the installer is not built (install NSIS to build it)")
endif()

# ---- Portable zip ---------------------------------------------------------------
# One folder holding the program, its help file, a short text on use and the
# script for Linux users. installer/make_zip.py writes it the same way every
# time (order, times, modes); without Python, CMake writes it, which records
# the builder's user and group.
configure_file(${CMAKE_SOURCE_DIR}/installer/README.txt.in ${CMAKE_BINARY_DIR}/dist-stage/README.txt
               @ONLY NEWLINE_STYLE CRLF)
set(_stage ${CMAKE_BINARY_DIR}/dist-stage)
set(_folder ${_stage}/${QV_DIST_NAME})
set(_files ${_exe} ${_chm} ${CMAKE_BINARY_DIR}/dist-stage/README.txt ${CMAKE_SOURCE_DIR}/scripts/run-on-linux.sh)
find_package(Python3 QUIET COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  set(_zip_command COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/installer/make_zip.py
      ${QV_PORTABLE_ZIP} ${QV_SOURCE_DATE_EPOCH} ${QV_DIST_NAME} ${_files})
else()
  set(ENV{SOURCE_DATE_EPOCH} ${QV_SOURCE_DATE_EPOCH}) # string(TIMESTAMP) gives that time
  string(TIMESTAMP _date "%Y-%m-%d %H:%M:%S" UTC)
  set(_zip_command
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${_folder}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_folder}
    COMMAND ${CMAKE_COMMAND} -E copy ${_files} ${_folder}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${QV_PORTABLE_ZIP}
    COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${CMAKE_COMMAND} -E tar cf ${QV_PORTABLE_ZIP} --format=zip
            "--mtime=${_date} UTC" ${QV_DIST_NAME})
endif()
add_custom_command(
  OUTPUT ${QV_PORTABLE_ZIP}
  ${_zip_command}
  WORKING_DIRECTORY ${_stage}
  DEPENDS QV6100_UPDATE ${_files} ${CMAKE_SOURCE_DIR}/installer/make_zip.py ${QV_EPOCH_STAMP}
  COMMENT "Building the portable zip ${QV_DIST_NAME}-portable.zip"
  VERBATIM)
add_custom_target(qv_portable ALL DEPENDS ${QV_PORTABLE_ZIP})
add_dependencies(qv_portable qv_help)

add_custom_target(qv_dist)
add_dependencies(qv_dist qv_portable)
if(TARGET qv_installer)
  add_dependencies(qv_dist qv_installer)
endif()

# ---- Tests (Linux: under Wine, in a prefix of their own) -------------------------
if(CMAKE_HOST_UNIX AND (BUILD_TESTING OR NOT DEFINED BUILD_TESTING))
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/dist ${CMAKE_BINARY_DIR}/tests/dist)
endif()
