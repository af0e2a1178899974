# vorin_embed_image(<target>)
#
# Builds loader/codepage437.bin into <target> as vorin::kCodePageImage
# (declared in loader/codepage_image.h). The bytes are turned into a C++
# source at build time by this same file run as a CMake script, so a new
# image is picked up by the next build and no outside tool is needed. The
# image must be exactly 36,864 bytes; anything else stops the configure or
# the build with a message naming the file.

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.20)
  # Build step: cmake -DINPUT=<bin> -DOUTPUT=<cpp> -DHEADER=<h> -P embed_image.cmake
  foreach(var INPUT OUTPUT HEADER)
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "embed_image.cmake: ${var} is not set")
    endif()
  endforeach()
  if(NOT EXISTS "${INPUT}")
    message(FATAL_ERROR "code page image ${INPUT} is missing")
  endif()
  file(SIZE "${INPUT}" size)
  if(NOT size EQUAL 36864)
    message(FATAL_ERROR "code page image ${INPUT} is ${size} bytes, expected 36864")
  endif()
  file(READ "${INPUT}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Sixteen bytes a line.
  string(REPEAT "0x..," 16 line)
  string(REGEX REPLACE "(${line})" "    \\1\n" bytes "${bytes}")
  file(WRITE "${OUTPUT}"
    "// Generated from ${INPUT} at build time; do not edit.\n"
    "#include \"${HEADER}\"\n\n"
    "namespace vorin {\n\n"
    "const unsigned char kCodePageImage[kImageSize] = {\n${bytes}};\n\n"
    "}  // namespace vorin\n")
  return()
endif()

function(vorin_embed_image target)
  set(input "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/codepage437.bin")
  set(header "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/codepage_image.h")
  set(script "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")
  if(NOT EXISTS "${input}")
    message(FATAL_ERROR "code page image ${input} is missing")
  endif()
  file(SIZE "${input}" size)
  if(NOT size EQUAL 36864)
    message(FATAL_ERROR "code page image ${input} is ${size} bytes, expected 36864")
  endif()
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_codepage_image.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" -DINPUT=${input} -DOUTPUT=${output} -DHEADER=${header} -P "${script}"
    DEPENDS "${input}" "${script}"
    COMMENT "Embedding code page image into ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
  # Re-run the size check at configure time whenever the image changes.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${input}")
endfunction()
