# Starts the desktop program itself on the offscreen platform: it opens a
# photo, runs the plug-in through its menu (the plug-in's window driven by
# PLANORA_SCRIPT: Preview, then Pretty Print and Close) and saves the result.
# The saved file must be byte for byte what planora-rectify makes from the
# same photo with the corners and crop the window saved in its settings.
#   cmake -DPLANORA=... -DRECTIFY=... -DPHOTO=... -DWORK=... -P run_planora.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/config)
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{XDG_CONFIG_HOME} ${WORK}/config)
set(ENV{PLANORA_SCRIPT} "Vorschau1;Fertigstellen1")
execute_process(COMMAND ${PLANORA} --run-plugin --save-result ${WORK}/result.ppm ${PHOTO}
                RESULT_VARIABLE rc TIMEOUT 120)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "planora --run-plugin ended with ${rc}")
endif()
if(NOT EXISTS ${WORK}/config/planora/planora.ini)
  message(FATAL_ERROR "the plug-in wrote no settings under XDG_CONFIG_HOME")
endif()
execute_process(COMMAND ${RECTIFY} --settings ${WORK}/config/planora/planora.ini ${PHOTO} ${WORK}/batch.ppm
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "planora-rectify failed (exit ${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/result.ppm ${WORK}/batch.ppm RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "the desktop program saved another picture than planora-rectify makes")
endif()

# Never overwrites: a second run onto the same file is refused before anything runs.
execute_process(COMMAND ${PLANORA} --run-plugin --save-result ${WORK}/result.ppm ${PHOTO} RESULT_VARIABLE rc
                ERROR_VARIABLE err TIMEOUT 60)
if(rc EQUAL 0 OR NOT err MATCHES "exists already")
  message(FATAL_ERROR "an existing result was not protected (exit ${rc}: ${err})")
endif()

# A photo that cannot be opened: a clear message and a failure, no crash.
file(WRITE ${WORK}/broken.jpg "not a photo")
execute_process(COMMAND ${PLANORA} --run-plugin --save-result ${WORK}/none.ppm ${WORK}/broken.jpg
                RESULT_VARIABLE rc TIMEOUT 60)
if(NOT rc EQUAL 2)
  message(FATAL_ERROR "a broken photo gave exit ${rc}, not 2")
endif()
