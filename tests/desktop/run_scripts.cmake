# Scripted runs of the desktop program, each with a time limit: a script
# whose steps open modal loops of their own, a script that ends with the
# plug-in's window still open, and runs without any display at all.
#   cmake -DPLANORA=... -DPHOTO=... -DWORK=... -P run_scripts.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/config)
set(ENV{XDG_CONFIG_HOME} ${WORK}/config)

function(run_script name script platform expected)
  if(platform STREQUAL "none")
    unset(ENV{QT_QPA_PLATFORM})
  else()
    set(ENV{QT_QPA_PLATFORM} ${platform})
  endif()
  set(ENV{PLANORA_SCRIPT} "${script}")
  execute_process(COMMAND ${PLANORA} --run-plugin --save-result ${WORK}/${name}.ppm ${PHOTO}
                  RESULT_VARIABLE rc ERROR_VARIABLE err TIMEOUT 60)
  if(NOT rc STREQUAL "${expected}")
    message(FATAL_ERROR "script \"${script}\" (${platform}) ended with \"${rc}\", not ${expected}: ${err}")
  endif()
endfunction()

unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})

# A help window opens its own modal loop inside the step; the steps after it
# are taken inside that loop ("close" closes it), and the menu under the
# modal help window is not chosen meanwhile.
run_script(help "Bedienung1;close;ber1;close;Fertigstellen1" offscreen 0)
if(NOT EXISTS ${WORK}/help.ppm)
  message(FATAL_ERROR "the script through the help windows saved no result")
endif()

# A script that ends with the window open: it is closed through the normal
# close path (the close question after the preview answered OK), so the
# settings are written; there is no result.
file(REMOVE_RECURSE ${WORK}/config/planora)
run_script(ends "Vorschau1" offscreen 1)
if(NOT EXISTS ${WORK}/config/planora/planora.ini)
  message(FATAL_ERROR "a script that ended with the window open left no settings")
endif()

# No display at all: the scripted run goes offscreen by itself, and --help
# needs no display.
run_script(nodisplay "Vorschau1;Fertigstellen1" none 0)
unset(ENV{QT_QPA_PLATFORM})
execute_process(COMMAND ${PLANORA} --help RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
if(NOT rc EQUAL 0 OR NOT out MATCHES "Usage: planora")
  message(FATAL_ERROR "planora --help without a display ended with ${rc}: ${err}")
endif()
