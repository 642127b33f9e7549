# Fails when a source file includes a header of a subsystem its own may not use: the arrows of
# the dependency direction point from user to used, and nothing points back up.
# Run as: cmake -DROOT=<source folder> -P CheckIncludes.cmake
if(NOT ROOT)
  message(FATAL_ERROR "ROOT must name the source folder")
endif()

# The subsystems: a top-level folder, or for audio/ one of its concern folders. The byte layer
# (audio/engine/AuBinary) counts as a subsystem of its own: the tag sets and the PNG codec stand
# on it without standing on the engine.
set(audio_folders audio/engine audio/formats audio/devices audio/stages audio/tags)
set(subsystems app toolkit widgets png tasks ${audio_folders} bytelayer unicode classlib platform)
set(byte_layer "^audio/engine/AuBinary\\.(h|cpp)$")

# What each subsystem may include besides itself. tests/ and bench/ may use anything.
set(allowed_app            toolkit widgets png tasks ${audio_folders} bytelayer unicode classlib)
set(allowed_toolkit        widgets png tasks unicode classlib)
set(allowed_widgets        unicode classlib)
set(allowed_png            bytelayer classlib)
set(allowed_tasks          ${audio_folders} bytelayer unicode classlib)
set(allowed_audio/engine   audio/tags bytelayer classlib)
set(allowed_audio/formats  audio/engine audio/tags bytelayer classlib)
set(allowed_audio/devices  audio/engine audio/tags bytelayer classlib)
set(allowed_audio/stages   audio/engine audio/tags bytelayer classlib)
set(allowed_audio/tags     bytelayer classlib)
set(allowed_bytelayer      classlib)
set(allowed_unicode        classlib)
set(allowed_classlib       "")
set(allowed_platform       "")
# A file directly in audio/, outside the concern folders, may use nothing.
set(allowed_audio          "")
# The C interfaces of the libraries in platform/ (audio/formats/<format>/<Name>Api.h: records
# and entry-point types, no code) are shared by each library and its binding.
set(interface_headers "^audio/formats/[a-z0-9_]+/[A-Za-z0-9_]+Api\\.h$")

# The subsystem of a path below ROOT (a source file or an included header); empty for a folder
# that is none (a system or dependency header).
function(subsystem_of path out)
  if(path MATCHES "${byte_layer}")
    set(${out} bytelayer PARENT_SCOPE)
  elseif(path MATCHES "^audio/([A-Za-z0-9_]+)/")
    set(${out} "audio/${CMAKE_MATCH_1}" PARENT_SCOPE)
    list(FIND audio_folders "audio/${CMAKE_MATCH_1}" known)
    if(known LESS 0)
      set(${out} audio PARENT_SCOPE)
    endif()
  elseif(path MATCHES "^([A-Za-z0-9_]+)/")
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
    list(FIND subsystems "${CMAKE_MATCH_1}" known)
    if(known LESS 0 AND NOT CMAKE_MATCH_1 STREQUAL "audio")
      set(${out} "" PARENT_SCOPE)
    endif()
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

set(violations "")
foreach(top app toolkit widgets png tasks audio unicode classlib platform)
  if(NOT IS_DIRECTORY "${ROOT}/${top}")
    continue()
  endif()
  file(GLOB_RECURSE sources "${ROOT}/${top}/*.h" "${ROOT}/${top}/*.hpp" "${ROOT}/${top}/*.c" "${ROOT}/${top}/*.cpp"
       "${ROOT}/${top}/*.rc")
  foreach(src ${sources})
    file(RELATIVE_PATH rel "${ROOT}" "${src}")
    subsystem_of("${rel}" sub)
    file(STRINGS "${src}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<](\\.\\./)*[A-Za-z0-9_]+/")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<](\\.\\./)*([^\">]+)[\">].*" "\\2" path "${line}")
      subsystem_of("${path}" used)
      if(used STREQUAL "" OR used STREQUAL sub)
        continue()
      endif()
      if(sub STREQUAL "platform" AND path MATCHES "${interface_headers}")
        continue()
      endif()
      list(FIND allowed_${sub} "${used}" ok)
      if(ok LESS 0)
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
