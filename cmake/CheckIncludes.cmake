# Fails when a source file includes a header of a subsystem its own may not use: the arrows of
# the dependency direction point from user to used, and nothing points back up.
# Run as: cmake -DROOT=<source folder> -P CheckIncludes.cmake
if(NOT ROOT)
  message(FATAL_ERROR "ROOT must name the source folder")
endif()

# What each subsystem folder may include besides itself. tests/ and bench/ may use anything.
set(allowed_app      toolkit widgets png tasks audio unicode classlib)
set(allowed_toolkit  widgets png tasks unicode classlib)
set(allowed_widgets  unicode classlib)
set(allowed_png      classlib)
set(allowed_tasks    audio unicode classlib)
set(allowed_audio    classlib)
set(allowed_unicode  classlib)
set(allowed_classlib "")
set(allowed_platform "")
# The C interfaces of the libraries in platform/ (audio/formats/<format>/<Name>Api.h: records and entry-point
# types, no code) are shared by each library and its binding.
set(interface_headers "^audio/formats/[a-z0-9_]+/[A-Za-z0-9_]+Api\\.h$")
set(subsystems app toolkit widgets png tasks audio unicode classlib platform)

set(violations "")
foreach(sub ${subsystems})
  if(NOT IS_DIRECTORY "${ROOT}/${sub}")
    continue()
  endif()
  file(GLOB_RECURSE sources "${ROOT}/${sub}/*.h" "${ROOT}/${sub}/*.hpp" "${ROOT}/${sub}/*.c" "${ROOT}/${sub}/*.cpp"
       "${ROOT}/${sub}/*.rc")
  foreach(src ${sources})
    file(STRINGS "${src}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<](\\.\\./)*[A-Za-z0-9_]+/")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<](\\.\\./)*([A-Za-z0-9_]+)/.*" "\\2" used "${line}")
      if(used STREQUAL sub)
        continue()
      endif()
      list(FIND subsystems "${used}" known)
      if(known LESS 0)
        continue()  # a system or dependency header
      endif()
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<](\\.\\./)*([^\">]+)[\">].*" "\\2" path "${line}")
      if(sub STREQUAL "platform" AND path MATCHES "${interface_headers}")
        continue()
      endif()
      list(FIND allowed_${sub} "${used}" ok)
      if(ok LESS 0)
        file(RELATIVE_PATH rel "${ROOT}" "${src}")
        string(STRIP "${line}" line)
        list(APPEND violations "${rel}: ${line} (${sub} may not use ${used})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Includes against the dependency direction:\n  ${text}")
endif()
message(STATUS "Includes follow the dependency direction")
