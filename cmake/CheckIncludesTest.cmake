# The include check on the small tree in include-check/: it must refuse each include listed
# below and nothing else (the files named Uses* hold only includes along the direction).
# Run as: cmake -DROOT=<source folder> -P CheckIncludesTest.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${ROOT}/cmake/include-check -P ${ROOT}/cmake/CheckIncludes.cmake
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
set(expected
  "audio/engine/ReachesUp.h: #include \"tasks/Utils.h\" (audio/engine may not use tasks)"
  "audio/engine/ReachesFormats.h: #include \"audio/formats/wave/AuWave.h\" (audio/engine may not use audio/formats)"
  "audio/engine/AuBinary.h: #include \"audio/tags/AuTags.h\" (bytelayer may not use audio/tags)"
  "audio/tags/ReachesEngine.h: #include \"audio/engine/AuClasses.h\" (audio/tags may not use audio/engine)"
  "audio/devices/ReachesFormats.h: #include \"audio/formats/wave/AuWave.h\" (audio/devices may not use audio/formats)"
  "png/ReachesEngine.h: #include \"audio/engine/AuClasses.h\" (png may not use audio/engine)")
if(rc EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with includes against the direction:\n${out}")
endif()
foreach(line ${expected})
  string(FIND "${err}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the check did not refuse ${line}; it said:\n${err}")
  endif()
endforeach()
string(REGEX MATCHALL "may not use" refused "${err}")
list(LENGTH refused count)
list(LENGTH expected want)
if(NOT count EQUAL want)
  message(FATAL_ERROR "the check refused ${count} includes, not ${want}:\n${err}")
endif()
message(STATUS "The check refuses every include against the direction, and only those")
