# The Windows program, its payloads, its help file and the Windows-target tests.

if(MSVC)
  add_compile_options(/W4 /permissive- /utf-8)
  add_compile_definitions(_CRT_SECURE_NO_WARNINGS)
else()
  add_compile_options(-Wall -Wextra -Wpedantic)
endif()
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)

# ---- Payloads -----------------------------------------------------------------
include(${CMAKE_SOURCE_DIR}/cmake/Engine.cmake)
set(QV_FIRMWARE_IMAGE "" CACHE FILEPATH
    "Firmware image to build in (${QV_FIRMWARE_IMAGE_BYTES} bytes). Empty: a placeholder that writes no real firmware.")
set(QV_WRITE_CONTROL_PROGRAM "" CACHE FILEPATH
    "Write control program to build in (${QV_WRITE_CONTROL_PROGRAM_BYTES} bytes, starting with its length 0x05 0x9A). \
Empty: a placeholder.")

qv_embed_payloads(DIR ${CMAKE_BINARY_DIR}/payload SOURCES _payload_sources
  IMAGE "${QV_FIRMWARE_IMAGE}" PROGRAM "${QV_WRITE_CONTROL_PROGRAM}" IMAGE_FILE _image PROGRAM_FILE _program)
if(QV_FIRMWARE_IMAGE STREQUAL "")
  message(STATUS "Firmware image: placeholder (writes no real firmware); set QV_FIRMWARE_IMAGE for a real one")
else()
  message(STATUS "Firmware image: ${_image}")
endif()
if(NOT QV_WRITE_CONTROL_PROGRAM STREQUAL "")
  message(STATUS "Write control program: ${_program}")
endif()
set(QV_FIRMWARE_IMAGE_FILE ${_image} CACHE INTERNAL "")

add_library(qv_payload STATIC ${_payload_sources})
target_include_directories(qv_payload PUBLIC ${CMAKE_SOURCE_DIR})

# ---- Framework, engine, program -------------------------------------------------
add_library(qv_framework STATIC framework/Framework.cpp framework/Framework.h)
target_include_directories(qv_framework PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(qv_framework PUBLIC comctl32)

add_library(qv_engine STATIC ${QV_ENGINE_SOURCES}
  serial/PortNames.h update/Registry.cpp ui/UpdateDlg.h ui/Help.cpp ui/Help.h ui/AboutDlg.h)
target_link_libraries(qv_engine PUBLIC qv_framework qv_payload winmm advapi32)

add_executable(QV6100_UPDATE WIN32
  app/UpdateApp.cpp framework/WinMain.cpp ui/QV6100_UPDATE.rc ui/manifest.rc)
target_include_directories(QV6100_UPDATE PRIVATE ${CMAKE_SOURCE_DIR}/ui)
# windres reports no dependencies: a changed icon or resource header must
# still rebuild the resources.
set_property(SOURCE ui/QV6100_UPDATE.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_SOURCE_DIR}/ui/res/QV6100_UPDATE.ico ${CMAKE_SOURCE_DIR}/ui/resource.h)
target_link_libraries(QV6100_UPDATE PRIVATE qv_engine)
if(MINGW)
  # -s: no symbol table or debug sections (those of the static runtime, of no
  # use on a user's PC). The file then ends on a section boundary, a multiple
  # of 8 bytes, so a signature appended to it needs no padding and removing
  # the signature gives back these bytes exactly.
  target_link_options(QV6100_UPDATE PRIVATE -mwindows -s)
endif()

# ---- Help file ----------------------------------------------------------------
if(EXISTS ${CMAKE_SOURCE_DIR}/help/CMakeLists.txt)
  add_subdirectory(help)
endif()

# ---- Running under Wine, tests and benchmarks -----------------------------------------
# The tests run under Wine against the Linux simulator and need GoogleTest's
# sources (Debian's googletest package): a build on Windows skips them. The
# run tools in wine/ need neither: the cross build always has them.
set(QV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(EXISTS ${QV_GTEST_SOURCE}/CMakeLists.txt AND (BUILD_TESTING OR NOT DEFINED BUILD_TESTING))
  set(_qv_tests ON)
else()
  set(_qv_tests OFF)
  message(STATUS "GoogleTest sources not found at ${QV_GTEST_SOURCE}, or BUILD_TESTING off: tests are not built")
endif()
if(CMAKE_CROSSCOMPILING OR _qv_tests)
  add_subdirectory(wine)
  add_subdirectory(bench)
endif()
# Before the tests under Wine: the GUI test installs the installer it names.
include(${CMAKE_SOURCE_DIR}/cmake/Distribution.cmake)
if(_qv_tests)
  add_subdirectory(tests/win)
endif()
