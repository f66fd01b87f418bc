cmake_minimum_required(VERSION 3.25)
# Refuses an include that runs against a media subsystem's declared
# dependencies. The compiler alone cannot refuse one: a quoted include is
# also looked up beside the including file, so "../engine/X.h" is always
# found. Run by the build before the subsystem compiles:
#   cmake -DSUBSYSTEM=runtime -DALLOWED="runtime" -DMEDIA_DIR=... -DSTAMP=... -P CheckIncludes.cmake
file(GLOB_RECURSE _files "${MEDIA_DIR}/${SUBSYSTEM}/*.h" "${MEDIA_DIR}/${SUBSYSTEM}/*.cpp")
set(_errors "")
foreach(_file IN LISTS _files)
  file(STRINGS "${_file}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  get_filename_component(_dir "${_file}" DIRECTORY)
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "#[ \t]*include[ \t]*<(Q[A-Za-z]*|qt[a-z]*)[>/]")
      string(APPEND _errors "${_file}: includes Qt (${CMAKE_MATCH_1}); the media code links no Qt\n")
      continue()
    endif()
    if(NOT _line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      continue()
    endif()
    set(_name "${CMAKE_MATCH_1}")
    # Where the include lands: beside the file if it is there, else from the
    # project's root.
    get_filename_component(_beside "${_dir}/${_name}" ABSOLUTE)
    if(EXISTS "${_beside}")
      set(_target "${_beside}")
    else()
      get_filename_component(_target "${MEDIA_DIR}/../${_name}" ABSOLUTE)
    endif()
    file(RELATIVE_PATH _rel "${MEDIA_DIR}" "${_target}")
    if(_rel MATCHES "^\\.\\./")
      string(APPEND _errors "${_file}: includes \"${_name}\" from outside media/\n")
    elseif(_rel MATCHES "^([^/]+)/")
      set(_sub "${CMAKE_MATCH_1}")
      if(NOT _sub IN_LIST ALLOWED)
        string(APPEND _errors
          "${_file}: includes \"${_name}\" of media/${_sub}, which media/${SUBSYSTEM} does not use (it uses: ${ALLOWED})\n")
      endif()
    endif()
  endforeach()
endforeach()
if(_errors)
  message(FATAL_ERROR "Include against the media dependencies:\n${_errors}")
endif()
file(TOUCH "${STAMP}")
