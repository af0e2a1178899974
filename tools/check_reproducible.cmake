# Runs the image generator and the preview tool and checks that they give the
# committed loader/codepage437.bin and tools/codepage437-preview.png byte for
# byte, so that neither file drifts from its sources.
file(REMOVE "${OUT}" "${PREVIEW_OUT}")
execute_process(COMMAND "${GENERATOR}" --font "${FONT}" "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gen_codepage failed (${rc})")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}" "${IMAGE}" RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${OUT} differs from the committed ${IMAGE}; "
                      "rebuild both with the codepage-image target and commit them")
endif()
execute_process(COMMAND "${PREVIEW_TOOL}" "${IMAGE}" "${PREVIEW_OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "codepage-preview failed (${rc})")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${PREVIEW_OUT}" "${PREVIEW}" RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${PREVIEW} is not the picture of ${IMAGE}; "
                      "rebuild it with the codepage-image target and commit it")
endif()
message(STATUS "the tools reproduce ${IMAGE} and ${PREVIEW}")
