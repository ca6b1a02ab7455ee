# `make run` on a configured tree without a display: it builds only the
# batch tool and the sample check, does not configure again, and prints the
# two lines of estimates after a one-line build log.
#   cmake -DMAKE=... -DSOURCE=... -DBUILD=... -P run_make.cmake
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
# As if typed at a shell, not run from inside another make.
unset(ENV{MAKEFLAGS})
unset(ENV{MAKELEVEL})
unset(ENV{MFLAGS})

execute_process(COMMAND ${MAKE} -n run-sample BUILD=${BUILD} WORKING_DIRECTORY ${SOURCE}
                RESULT_VARIABLE rc OUTPUT_VARIABLE plan ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make -n run-sample failed (${rc}): ${err}")
endif()
string(REGEX MATCHALL "cmake --build" builds "${plan}")
list(LENGTH builds n)
if(NOT n EQUAL 1 OR NOT plan MATCHES "cmake --build [^\n]*--target planora-rectify planora-compare-sample")
  message(FATAL_ERROR "make run-sample builds more than it runs:\n${plan}")
endif()

execute_process(COMMAND ${MAKE} run BUILD=${BUILD} WORKING_DIRECTORY ${SOURCE}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 600)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make run failed (${rc}):\n${out}\n${err}")
endif()
string(REGEX REPLACE "\n$" "" out "${out}")
string(REPLACE ";" "," out "${out}")
string(REPLACE "\n" ";" lines "${out}")
list(LENGTH lines n)
list(GET lines -2 first)
list(GET lines -1 second)
if(n GREATER 3 OR NOT first MATCHES "^focal_ratio +estimated" OR NOT second MATCHES "^aspect_ratio +estimated"
   OR out MATCHES "Entering directory|Configuring")
  message(FATAL_ERROR "make run printed more than a build line and the two estimates:\n${out}")
endif()
