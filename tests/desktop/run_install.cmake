# Installs the build into a fresh prefix and runs the installed programs
# from there: the desktop program must find the installed plug-in library,
# the batch tool the installed corner detector, and the desktop entry and
# icon must be where desktops look for them.
#   cmake -DBUILD=... -DPHOTO=... -DWORK=... -P run_install.cmake
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc})")
endif()
foreach(f bin/planora bin/planora-rectify share/applications/planora.desktop share/icons/hicolor/64x64/apps/planora.png)
  if(NOT EXISTS ${WORK}/prefix/${f})
    message(FATAL_ERROR "the install lacks ${f}")
  endif()
endforeach()
file(GLOB_RECURSE plugin ${WORK}/prefix/*/planora/libPPlanora.so)
if(NOT plugin)
  message(FATAL_ERROR "the install lacks the plug-in library")
endif()

set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{XDG_CONFIG_HOME} ${WORK}/config)
set(ENV{PLANORA_SCRIPT} "Fertigstellen1")
unset(ENV{PLANORA_PLUGIN})
execute_process(COMMAND ${WORK}/prefix/bin/planora --run-plugin --save-result ${WORK}/out.png ${PHOTO}
                RESULT_VARIABLE rc TIMEOUT 120)
if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/out.png)
  message(FATAL_ERROR "the installed planora did not run its plug-in (exit ${rc})")
endif()
execute_process(COMMAND ${WORK}/prefix/bin/planora-rectify --help RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed planora-rectify does not run")
endif()

# --auto from the installed batch tool: it loads the installed detector
# module, not the build tree's (the loader tells which file it maps).
file(GLOB_RECURSE detector ${WORK}/prefix/*/planora/planora-detect.so)
if(NOT detector)
  message(FATAL_ERROR "the install lacks the corner detector's module planora-detect.so")
endif()
list(GET detector 0 detector)
file(REAL_PATH ${detector} detector)
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=PLANORA_DETECT_MODULE LD_DEBUG=files
                        ${WORK}/prefix/bin/planora-rectify --auto ${PHOTO} ${WORK}/auto.png
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/auto.png)
  message(FATAL_ERROR "the installed planora-rectify --auto failed (${rc}):\n${out}\n${err}")
endif()
string(FIND "${err}" "file=${detector} [0];  dynamically loaded" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the installed planora-rectify did not load the installed ${detector}:\n${err}")
endif()
