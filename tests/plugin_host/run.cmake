# Runs the C test host against the built plug-in library in each of its
# modes, then checks that the result the host received is byte for byte
# what planora-rectify writes for the same picture, corners and crop (taken
# from the settings file the window saved).
#   cmake -DHOST=... -DLIBRARY=... -DRECTIFY=... -DWORK=... -P run.cmake
file(REMOVE_RECURSE ${WORK})
foreach(mode flow close refuse-get refuse-put empty huge twice)
  file(MAKE_DIRECTORY ${WORK}/${mode})
  execute_process(COMMAND ${HOST} ${LIBRARY} ${WORK}/${mode} ${mode} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the host's run in mode ${mode} failed (exit ${rc})")
  endif()
endforeach()

execute_process(COMMAND ${RECTIFY} --settings ${WORK}/flow/planora.ini ${WORK}/flow/input.ppm
                        ${WORK}/flow/batch.ppm RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "planora-rectify failed on the host's picture (exit ${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/flow/result.ppm ${WORK}/flow/batch.ppm
                RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "the host's result differs from planora-rectify's for the same corners")
endif()

# A refused picture: the window closes without a fingerprint.
file(STRINGS ${WORK}/refuse-get/planora.ini inhash REGEX "^Inhash=")
if(NOT inhash STREQUAL "Inhash=0")
  message(FATAL_ERROR "after a refused picture the settings say \"${inhash}\", not Inhash=0")
endif()
# An empty picture rectangle: no window, so no settings file either.
if(EXISTS ${WORK}/empty/planora.ini)
  message(FATAL_ERROR "an empty picture rectangle still opened the window")
endif()
if(EXISTS ${WORK}/huge/planora.ini)
  message(FATAL_ERROR "a picture rectangle of sides near 2^32 still opened the window")
endif()
