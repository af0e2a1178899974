# cmake -DPROGRAM=<program> -DPAGE=<man page> -P check_man_page.cmake
#
# A program's --help and its man page name the same long options, and the
# page renders without a warning from the man page formatter.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help ended with ${rc}")
endif()
file(READ ${PAGE} page)
# Examples may call other programs with their options: not compared.
string(FIND "${page}" "\n.SH EXAMPLES" examples)
string(FIND "${page}" "\n.SH SEE ALSO" see_also)
if(examples GREATER -1 AND see_also GREATER examples)
  string(SUBSTRING "${page}" 0 ${examples} head)
  string(SUBSTRING "${page}" ${see_also} -1 tail)
  set(page "${head}${tail}")
endif()
string(REPLACE "\\-" "-" page "${page}")
string(REGEX MATCHALL "--[a-z][a-z0-9-]*" in_help "${help}")
string(REGEX MATCHALL "--[a-z][a-z0-9-]*" in_page "${page}")
list(REMOVE_DUPLICATES in_help)
list(REMOVE_DUPLICATES in_page)
if(NOT in_help OR NOT in_page)
  message(FATAL_ERROR "no options found in --help or in ${PAGE}")
endif()
set(only_help ${in_help})
list(REMOVE_ITEM only_help ${in_page})
set(only_page ${in_page})
list(REMOVE_ITEM only_page ${in_help})
if(only_help OR only_page)
  message(FATAL_ERROR "${PAGE} and --help differ:\n"
    "  only in --help: ${only_help}\n  only in the man page: ${only_page}")
endif()

find_program(MAN man)
if(MAN)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 ${MAN} --warnings -l ${PAGE}
    OUTPUT_VARIABLE rendered ERROR_VARIABLE warnings RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "" OR rendered STREQUAL "")
    message(FATAL_ERROR "man -l ${PAGE} (exit ${rc}):\n${warnings}")
  endif()
endif()
