# What `cmake --install` puts where, the CMake package `Vorin`, the pkg-config
# files and the CPack packages (.deb from the Linux build, .zip from the
# Windows build). Included last by the top level, after every target exists.
#
# Components: Runtime (libraries, programs), Development (headers, import
# libraries, .def files, CMake package, pkg-config), Documentation (README,
# docs, man pages, the examples). The 32-bit Windows folder of the zip takes
# Runtime and Development from the i686 build.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# ---- The version: one string, from project(), in both libraries and programs
configure_file(${CMAKE_SOURCE_DIR}/cmake/vorin_version.c.in ${CMAKE_BINARY_DIR}/vorin_version.c
  @ONLY)
set(_vorin_libraries)
foreach(lib vorinserial vorindriver)
  if(TARGET ${lib})
    list(APPEND _vorin_libraries ${lib})
    target_sources(${lib} PRIVATE ${CMAKE_BINARY_DIR}/vorin_version.c)
    # libvorinserial.so.3 -> libvorinserial.so.3.0.0; a new major version is a
    # new SONAME, so hosts built against this one keep loading it.
    set_target_properties(${lib} PROPERTIES
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
endforeach()
if(TARGET vorin-sim)
  target_compile_definitions(vorin-sim PRIVATE VORIN_VERSION="${PROJECT_VERSION}")
endif()
if(TARGET driverfiles_exports_test)
  target_compile_definitions(driverfiles_exports_test PRIVATE
    VORIN_VERSION="${PROJECT_VERSION}")
  if(TARGET vorinserial)
    add_dependencies(driverfiles_exports_test vorinserial)
  endif()
endif()

set(_vorin_programs)
foreach(program vorin-codepage vorin-driver vorin-server vorin-sim)
  if(TARGET ${program})
    list(APPEND _vorin_programs ${program})
  endif()
endforeach()

# ---- Libraries, programs, headers
if(NOT WIN32)
  # An installed tree works wherever it is put (a scratch prefix, /opt, the
  # .deb's /usr): programs look in ../lib, the driver library beside itself.
  set_target_properties(${_vorin_programs} PROPERTIES
    INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  if(TARGET vorindriver)
    set_target_properties(vorindriver PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
endif()

if(_vorin_libraries)
  set_target_properties(vorin_headers PROPERTIES EXPORT_NAME headers)
  foreach(lib IN LISTS _vorin_libraries)
    string(REGEX REPLACE "^vorin" "" short ${lib})
    set_target_properties(${lib} PROPERTIES EXPORT_NAME ${short})
  endforeach()
  install(TARGETS ${_vorin_libraries} vorin_headers EXPORT VorinTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
      NAMELINK_COMPONENT Development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()
if(_vorin_programs)
  install(TARGETS ${_vorin_programs}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/include/vorin/serial.h ${CMAKE_SOURCE_DIR}/include/vorin/driver.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vorin COMPONENT Development)
if(WIN32)
  # The exported names alone (vorin_exports_from_def), for `lib /def:`.
  foreach(lib IN LISTS _vorin_libraries)
    install(FILES ${CMAKE_BINARY_DIR}/${lib}.def
      DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
  endforeach()
endif()

# ---- find_package(Vorin 3 CONFIG) and pkg-config
if(_vorin_libraries)
  set(_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Vorin)
  install(EXPORT VorinTargets NAMESPACE Vorin:: DESTINATION ${_cmake_dir}
    COMPONENT Development)
  configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VorinConfig.cmake.in
    ${CMAKE_BINARY_DIR}/VorinConfig.cmake INSTALL_DESTINATION ${_cmake_dir})
  # Same major version = compatible; a 32-bit consumer does not take the
  # 64-bit package and the other way round.
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/VorinConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/VorinConfig.cmake ${CMAKE_BINARY_DIR}/VorinConfigVersion.cmake
    DESTINATION ${_cmake_dir} COMPONENT Development)
  foreach(lib IN LISTS _vorin_libraries)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/${lib}.pc.in ${CMAKE_BINARY_DIR}/${lib}.pc @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/${lib}.pc
      DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
  endforeach()
endif()

# ---- Documentation, man pages, examples
file(GLOB _vorin_docs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${_vorin_docs}
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Documentation)
install(FILES ${CMAKE_SOURCE_DIR}/sim/README.md RENAME vorin-sim.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Documentation)
if(NOT WIN32)
  foreach(program IN LISTS _vorin_programs)
    install(FILES ${CMAKE_SOURCE_DIR}/docs/man/${program}.1
      DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Documentation)
  endforeach()
endif()
set(_examples ${CMAKE_INSTALL_DATADIR}/vorin/examples)
install(FILES ${CMAKE_SOURCE_DIR}/examples/host/CMakeLists.txt
  ${CMAKE_SOURCE_DIR}/examples/host/vorin_driver.c
  DESTINATION ${_examples}/host COMPONENT Documentation)
# The sample driver folder as committed, without what a run left behind;
# the driver writes its exchange copies into $$$.
foreach(file KOMENT.TXT KONFIG.TXT printer.profile vorin.cfg zadanie.txt)
  install(FILES ${CMAKE_SOURCE_DIR}/examples/driver/${file}
    DESTINATION ${_examples}/driver COMPONENT Documentation)
endforeach()
install(DIRECTORY DESTINATION ${_examples}/driver/$$$ COMPONENT Documentation)
# The printers vorin-sim --printer can play.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/sim/profiles/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/vorin/profiles COMPONENT Documentation)

# ---- Man pages agree with --help (every option of one is in the other)
if(VORIN_TESTS AND NOT CMAKE_CROSSCOMPILING)
  foreach(program IN LISTS _vorin_programs)
    add_test(NAME man_page_${program}
      COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}>
        -DPAGE=${CMAKE_SOURCE_DIR}/docs/man/${program}.1
        -P ${CMAKE_SOURCE_DIR}/cmake/check_man_page.cmake)
    set_tests_properties(man_page_${program} PROPERTIES TIMEOUT 30 LABELS docs)
  endforeach()
endif()

# ---- Packages
set(CPACK_PACKAGE_NAME vorin)
set(CPACK_PACKAGE_VENDOR "VORIN")
set(CPACK_PACKAGE_CONTACT "VORIN developers <vorin@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "VORIN receipt printer tools: code page loader, serial and driver libraries")
set(CPACK_PACKAGE_DESCRIPTION
  "vorin-codepage loads code page 437 into a VORIN receipt printer over a
serial line. The vorinserial and vorindriver libraries (C headers, the CMake
package Vorin, pkg-config modules vorinserial and vorindriver) let driver
authors build their own driver hosts; vorin-driver is a sample host,
vorin-server a supervising server, vorin-sim a printer simulator on a
pseudo-terminal.")
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
# Debug information stays in the build; the packages carry stripped binaries.
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vorin-${PROJECT_VERSION}-windows)
  # The 32-bit build (preset windows-i686) goes into x86/ of the zip when it
  # is there; see cmake/CPackProjectConfig.cmake.in.
  set(VORIN_I686_BUILD ${CMAKE_SOURCE_DIR}/build/windows-i686
    CACHE PATH "The i686 build whose DLLs and programs go into the zip's x86 folder")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/CPackProjectConfig.cmake.in
    ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # Dependencies from what the binaries link (dpkg-shlibdeps); the package's
  # own libraries are found in the build's bin folder.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
  # A shlibs file and the ldconfig trigger for the two shared libraries.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()
include(CPack)
