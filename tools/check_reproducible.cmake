# Runs the image generator and checks that it gives the committed
# image byte for byte.
foreach(run 1)
  file(REMOVE "${OUT}")
  execute_process(COMMAND "${GENERATOR}" --font "${FONT}" "${OUT}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gen_codepage failed (${rc})")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}" "${IMAGE}" RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "run ${run}: ${OUT} differs from the committed ${IMAGE}; "
                        "rebuild it with the codepage-image target and commit it")
  endif()
endforeach()
message(STATUS "the generator reproduces ${IMAGE}")
