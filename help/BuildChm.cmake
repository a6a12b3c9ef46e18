# Runs chmcmd on a help project and checks its result, then copies the
# help file to its place. chmcmd exits 0 after some errors (a missing
# linked file, for one) and can leave an empty file behind, so the output
# is checked here and any warning or error fails the build.
#
# cmake -DCHMCMD=... -DWORK_DIR=... -DPROJECT=x.hhp -DCHM=x.chm
#       -DTOC=x.hhc -DINDEX=x.hhk -DOUTPUT=/path/x.chm
#       [-DSETARCH=setarch -DPYTHON=python3 -DSOURCE_DATE_EPOCH=seconds] -P BuildChm.cmake
#
# Reproducible output: chmcmd orders some of its tables by memory address, so
# it runs without address space randomisation (setarch -R), and the two build
# times it writes are set from SOURCE_DATE_EPOCH (FixChmTimes.py).

foreach(_v CHMCMD WORK_DIR PROJECT CHM TOC INDEX OUTPUT)
  if(NOT DEFINED ${_v} OR "${${_v}}" STREQUAL "")
    message(FATAL_ERROR "BuildChm.cmake: ${_v} is not set")
  endif()
endforeach()

# Every topic named in the table of contents and the index must exist:
# chmcmd says nothing about a missing one.
foreach(_sitemap ${TOC} ${INDEX})
  file(STRINGS ${WORK_DIR}/${_sitemap} _locals REGEX "name=\"Local\"")
  foreach(_line IN LISTS _locals)
    if(_line MATCHES "value=\"([^\"#]+)")
      if(NOT EXISTS ${WORK_DIR}/${CMAKE_MATCH_1})
        message(FATAL_ERROR "${_sitemap}: topic ${CMAKE_MATCH_1} does not exist")
      endif()
    endif()
  endforeach()
endforeach()

file(REMOVE ${WORK_DIR}/${CHM})
set(_run ${CHMCMD})
if(SETARCH)
  set(_run ${SETARCH} ${CMAKE_HOST_SYSTEM_PROCESSOR} -R ${CHMCMD})
endif()
execute_process(
  COMMAND ${_run} ${PROJECT}
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE _rc
  OUTPUT_VARIABLE _out
  ERROR_VARIABLE _err)

if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "chmcmd failed (${_rc}):\n${_out}${_err}")
endif()

string(REGEX MATCHALL "[^\n]*(Warning|Error|error)[^\n]*" _problems "${_out}${_err}")
if(_problems)
  string(REPLACE ";" "\n" _problems "${_problems}")
  message(FATAL_ERROR "chmcmd reported problems in the help sources:\n${_problems}")
endif()

set(_chm ${WORK_DIR}/${CHM})
if(NOT EXISTS ${_chm})
  message(FATAL_ERROR "chmcmd did not write ${CHM}:\n${_out}${_err}")
endif()
file(SIZE ${_chm} _size)
file(READ ${_chm} _magic LIMIT 4 HEX)
if(_size LESS 4096 OR NOT _magic STREQUAL "49545346") # "ITSF"
  message(FATAL_ERROR "${CHM} is not a valid help file (${_size} bytes):\n${_out}${_err}")
endif()

if(PYTHON AND DEFINED SOURCE_DATE_EPOCH)
  execute_process(COMMAND ${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/FixChmTimes.py ${_chm} ${SOURCE_DATE_EPOCH}
                  RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "FixChmTimes.py failed on ${_chm}")
  endif()
endif()

file(COPY_FILE ${_chm} ${OUTPUT})
