# Writes the identification lines of the units into a header, one "$Id: ...$" line per source
# file, from version control. Run at every build (cmake -P) with SOURCE_DIR and OUTPUT set.
#
# A line: "$Id: <file> <revision> <yyyy-mm-dd> <hh:mm:ss>Z <committer> $", where the revision is
# the number of commits that touched the file and the date and time are those of its last commit
# in UTC. A file that git does not know (or no git at all) gets revision 0, its modification time
# and the committer "uncommitted"; a missing file gets an empty line. Nothing here fails the build.

cmake_minimum_required(VERSION 3.22)

# The units: constant name, then the body file and the header file (empty: none). A pattern that
# matches several files stands for the most recently committed of them.
set(RUVALDA_ID_UNITS
  "entry|app/main.cpp|"
  "main_window|gui/form_main.cpp|gui/form_main.h"
  "map_window|gui/form_map.cpp|gui/form_map.h"
  "trace_dialog|gui/select_formula.cpp|gui/select_formula.h"
  "sequence_diagram|sequence/sequence_display.cpp|sequence/sequence_display.h"
  "message_output|output/output.cpp|output/output.h"
  "engine|engine/*.cpp|engine/eval.h"
  "vissim_conversation|vissim/lsa.cpp|vissim/lsa.h"
  "vissim_buffer|vissim/lsa_puff.cpp|vissim/lsa_puff.h"
)

if(NOT SOURCE_DIR OR NOT OUTPUT)
  message(FATAL_ERROR "identification.cmake needs SOURCE_DIR and OUTPUT")
endif()

# Dates of commits in UTC, whatever the zone of the machine that builds.
set(ENV{TZ} "UTC0")
find_program(RUVALDA_GIT git)
set(have_git FALSE)
if(RUVALDA_GIT)
  execute_process(COMMAND ${RUVALDA_GIT} rev-parse --verify -q HEAD
                  WORKING_DIRECTORY ${SOURCE_DIR}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(rc EQUAL 0)
    set(have_git TRUE)
  endif()
endif()

# Facts of one file: <out>_STAMP "yyyy-mm-dd hh:mm:ss", <out>_REVISION, <out>_NAME and
# <out>_COMMITTED (TRUE when git knows a commit of it).
function(ruvalda_file_facts path out)
  set(stamp "")
  set(revision 0)
  set(name "uncommitted")
  set(committed FALSE)
  if(have_git)
    execute_process(
      COMMAND ${RUVALDA_GIT} log -1 "--format=%cd%n%cn"
              "--date=format-local:%Y-%m-%d %H:%M:%S" -- ${path}
      WORKING_DIRECTORY ${SOURCE_DIR}
      RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(rc EQUAL 0 AND log MATCHES "^([0-9-]+ [0-9:]+)\n(.*)$")
      set(stamp "${CMAKE_MATCH_1}")
      set(name "${CMAKE_MATCH_2}")
      execute_process(COMMAND ${RUVALDA_GIT} rev-list --count HEAD -- ${path}
                      WORKING_DIRECTORY ${SOURCE_DIR}
                      RESULT_VARIABLE rc OUTPUT_VARIABLE count ERROR_QUIET
                      OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(rc EQUAL 0 AND count MATCHES "^[0-9]+$")
        set(revision ${count})
      endif()
      set(committed TRUE)
    endif()
  endif()
  if(NOT committed)
    file(TIMESTAMP "${SOURCE_DIR}/${path}" stamp "%Y-%m-%d %H:%M:%S" UTC)
  endif()
  # A "$" would end the line early for whoever reads it; line breaks have no place in it.
  string(REGEX REPLACE "[$\r\n\t]" "" name "${name}")
  if(name STREQUAL "")
    set(name "unknown")
  endif()
  set(${out}_STAMP "${stamp}" PARENT_SCOPE)
  set(${out}_REVISION "${revision}" PARENT_SCOPE)
  set(${out}_NAME "${name}" PARENT_SCOPE)
  set(${out}_COMMITTED ${committed} PARENT_SCOPE)
endfunction()

# The C string literal of the line for a file pattern, "" when no file matches.
function(ruvalda_id_literal pattern out)
  set(${out} "\"\"" PARENT_SCOPE)
  if(pattern STREQUAL "")
    return()
  endif()
  file(GLOB files RELATIVE ${SOURCE_DIR} "${SOURCE_DIR}/${pattern}")
  list(SORT files)
  set(best "")
  set(best_key "")
  foreach(path IN LISTS files)
    ruvalda_file_facts(${path} f)
    # Committed files before uncommitted ones, then the newest; the first of equals stays.
    if(f_COMMITTED)
      set(key "1 ${f_STAMP}")
    else()
      set(key "0 ${f_STAMP}")
    endif()
    if(best STREQUAL "" OR key STRGREATER best_key)
      set(best ${path})
      set(best_key "${key}")
      set(best_stamp "${f_STAMP}")
      set(best_revision "${f_REVISION}")
      set(best_name "${f_NAME}")
    endif()
  endforeach()
  if(best STREQUAL "")
    return()
  endif()
  get_filename_component(file_name ${best} NAME)
  set(line "$Id: ${file_name} ${best_revision} ${best_stamp}Z ${best_name} $")
  string(REPLACE "\\" "\\\\" line "${line}")
  string(REPLACE "\"" "\\\"" line "${line}")
  set(${out} "\"${line}\"" PARENT_SCOPE)
endfunction()

set(text "// Made by cmake/identification.cmake at every build; edits are lost.\n#pragma once\n\n")
foreach(unit IN LISTS RUVALDA_ID_UNITS)
  string(REPLACE "|" ";" fields "${unit}")
  list(GET fields 0 id)
  list(GET fields 1 body)
  list(GET fields 2 header)
  ruvalda_id_literal("${body}" body_literal)
  ruvalda_id_literal("${header}" header_literal)
  string(APPEND text "inline constexpr char ruvalda_id_${id}_body[] = ${body_literal};\n")
  string(APPEND text "inline constexpr char ruvalda_id_${id}_header[] = ${header_literal};\n")
endforeach()

# Unchanged lines leave the header alone, so nothing that includes it is compiled again.
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
