# Test helpers shared by every folder.
#
# GoogleTest is built from the Debian source package for every preset, so the
# native, sanitizer and mingw-w64 builds all use the same framework version.
if(VORIN_TESTS)
  enable_testing()
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
    # The framework is not ours: never fail the build on its warnings.
    foreach(t gtest gtest_main)
      target_compile_options(${t} PRIVATE -w)
    endforeach()
  endif()
endif()

# vorin_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>]
#                [TIMEOUT <seconds>])
#
# One test executable, run by ctest as one test (under Wine for the Windows
# build through CMAKE_CROSSCOMPILING_EMULATOR). Working directory is the
# binary folder, so a test that needs bin/ programs finds them beside itself.
function(vorin_add_test name)
  if(NOT VORIN_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  # Every suite gets the shared test helpers (tests/support) and the test
  # lines (platform/test_line.h).
  target_link_libraries(${name} PRIVATE ${T_LIBS} vorin_test_support vorin_headers gtest gtest_main)
  if(WIN32)
    # GoogleTest calls kernel32's OpenThread; vorinserial exports one of the
    # same name (the message pump). Named here, kernel32 wins for every test;
    # a test that wants the library's OpenThread looks it up by name.
    target_link_libraries(${name} PRIVATE kernel32)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  if(WIN32)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
      "WINEDEBUG=-all" "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
  endif()
endfunction()
