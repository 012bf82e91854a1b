# The link session is the top floor of the link: the channel, the command layer, the
# dispatcher, the packet drivers, the front end and the dongle's loop runs reach it through
# ILinkCallbacks, ILinkRequests and IDispatchedSession, never by including LinkSession.h.
# Fails naming every file below the session that includes it.
#   cmake -DSOURCE_DIR=<the source tree> -P SessionIncludes.cmake
set(include_line "^[ \t]*#[ \t]*include[ \t]*[<\"](fdp/)?LinkSession\\.h[>\"]")
file(GLOB_RECURSE files ${SOURCE_DIR}/fdp/*.h ${SOURCE_DIR}/fdp/*.cpp ${SOURCE_DIR}/hci/*.h ${SOURCE_DIR}/hci/*.cpp)

set(below)
set(engine_seen FALSE)
foreach(file ${files})
  file(STRINGS ${file} lines REGEX "${include_line}")
  if(file MATCHES "/fdp/LinkSession\\.(h|cpp)$")
    if(lines)
      set(engine_seen TRUE)
    endif()
  elseif(lines)
    file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
    list(APPEND below ${name})
  endif()
endforeach()

# The engine's own source includes its header: if the pattern misses that, it misses all.
if(NOT engine_seen)
  message(FATAL_ERROR "the include pattern did not find fdp/LinkSession.cpp's own include: the check sees nothing")
endif()
if(below)
  list(JOIN below "\n  " listed)
  message(FATAL_ERROR "below the session, these include LinkSession.h:\n  ${listed}")
endif()
