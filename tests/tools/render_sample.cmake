# The bundled sample is what the renderer makes: the same bytes for the
# photo, its truth and its corners. Guards the textures' noise, which the
# renderer shares with the generated test photos.
#   cmake -DRENDER=<planora-render-sample> -DSAMPLES=<resources/samples> -DWORK=<folder> -P render_sample.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${RENDER} ${WORK} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "planora-render-sample failed (${rc}): ${err}")
endif()
foreach(name poster.jpg poster.json poster.corners)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/${name} ${SAMPLES}/${name} RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${name} as rendered now differs from the bundled ${SAMPLES}/${name}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
