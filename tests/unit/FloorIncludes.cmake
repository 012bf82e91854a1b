# The tree's floors, from the ground up: resources/strings; the link's core fdp/ (with
# fdp/param/); archive/ and hci/ on it; the Qt floors (widgets/, controls/, pages/);
# app/, the window, on top. A floor includes only what lies below it: the core stays free
# of Qt and of the programs, and the pages say what they need of the window
# (pages/WizardHost.h) instead of including it. Fails naming every include line that
# reaches up.
#   cmake -DSOURCE_DIR=<the source tree> -P FloorIncludes.cmake

# folder | "only" (everything else is above it) or "not" | the folders named
set(rules
  "fdp/|only|fdp/,resources/strings/"
  "archive/|only|archive/,fdp/,resources/strings/"
  "hci/|only|hci/,fdp/,resources/strings/"
  "pages/|not|app/")

set(include_line "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
set(reaching_up)
foreach(rule ${rules})
  string(REPLACE "|" ";" rule "${rule}")
  list(GET rule 0 floor)
  list(GET rule 1 kind)
  list(GET rule 2 named)
  string(REPLACE "," ";" named "${named}")

  file(GLOB_RECURSE files ${SOURCE_DIR}/${floor}*.h ${SOURCE_DIR}/${floor}*.cpp)
  set(own_seen FALSE)
  foreach(file ${files})
    file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
    get_filename_component(dir ${file} DIRECTORY)
    file(STRINGS ${file} lines REGEX "${include_line}")
    foreach(line ${lines})
      string(REGEX MATCH "${include_line}" ignored "${line}")
      set(quote "${CMAKE_MATCH_1}")
      set(path "${CMAKE_MATCH_2}")
      # A quoted name is looked for beside the file first, then from the top of the tree
      # (the one include folder); a name in angle brackets only from the top. Anything
      # found in neither is a system or library header.
      set(found "")
      if(quote STREQUAL "\"" AND EXISTS "${dir}/${path}")
        set(found "${dir}/${path}")
      elseif(EXISTS "${SOURCE_DIR}/${path}")
        set(found "${SOURCE_DIR}/${path}")
      endif()
      if(NOT found)
        continue()
      endif()
      cmake_path(NORMAL_PATH found)
      file(RELATIVE_PATH target ${SOURCE_DIR} ${found})

      set(listed FALSE)
      foreach(folder ${named})
        string(FIND "${target}" "${folder}" at)
        if(at EQUAL 0)
          set(listed TRUE)
        endif()
      endforeach()
      string(FIND "${target}" "${floor}" at)
      if(at EQUAL 0)
        set(own_seen TRUE)
      endif()
      if((kind STREQUAL "only" AND NOT listed) OR (kind STREQUAL "not" AND listed))
        list(APPEND reaching_up "${name} includes ${target}")
      endif()
    endforeach()
  endforeach()

  # Every floor includes its own headers: if none was found, the check saw nothing.
  if(NOT own_seen)
    message(FATAL_ERROR "no include of ${floor} found in ${floor}: the check sees nothing")
  endif()
endforeach()

if(reaching_up)
  list(JOIN reaching_up "\n  " listed)
  message(FATAL_ERROR "these includes reach a floor above their own:\n  ${listed}")
endif()
