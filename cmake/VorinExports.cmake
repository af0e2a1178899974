# vorin_exports_from_def(<shared library target> <.def file>)
#
# A library's exports are listed once, by name, in its .def file. On Windows
# the linker reads it; elsewhere it becomes a version script (the listed names
# global, everything else local) and the "name = internal" aliases become
# --defsym options, so both builds export the same names. The build folder
# also gets <target>.def with the exported names alone, which is what is
# installed: an MSVC user's `lib /def:` needs no internal names.
function(vorin_exports_from_def target def)
  file(STRINGS ${def} lines)
  set(names "")
  set(aliases "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE ";.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)( *= *([A-Za-z_][A-Za-z0-9_]*))?$"
       AND NOT line STREQUAL "EXPORTS")
      list(APPEND names ${CMAKE_MATCH_1})
      if(CMAKE_MATCH_3)
        list(APPEND aliases "-Wl,--defsym=${CMAKE_MATCH_1}=${CMAKE_MATCH_3}")
      endif()
    endif()
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})

  list(JOIN names "\n  " listed)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/${target}.def
    CONTENT "LIBRARY ${target}\nEXPORTS\n  ${listed}\n" @ONLY)

  if(WIN32)
    target_sources(${target} PRIVATE ${def})
    set_target_properties(${target} PROPERTIES PREFIX "")
  else()
    list(JOIN names ";\n    " global)
    set(map ${CMAKE_BINARY_DIR}/${target}.map)
    file(CONFIGURE OUTPUT ${map} CONTENT "{\n  global:\n    ${global};\n  local: *;\n};\n" @ONLY)
    target_link_options(${target} PRIVATE -Wl,--version-script=${map} ${aliases})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
endfunction()
