# The C test host drives the Windows DLL under Wine and the Linux library
# natively (headless), through the same runs. The picture the DLL hands
# back, for the default marker and for a tilted one with colour
# interpolation and without it, must be byte for byte the Linux library's,
# and so must the settings file (line ends aside); planora-rectify redoes
# each run from the settings the DLL wrote as well. The glyph, the
# refusals and the empty picture are as on Linux.
#
# The panes take their size from the screen and a marker lies on the
# pane's pixels, so both windows must have the same client area: the
# headless one is 1904 x 981, which a maximized window under Wine (19-pixel
# caption and menu bar) gets on a 1904 x 1019 screen (make windows-test).
#   cmake -DHOST=host.exe -DLIBRARY=PPlanora.dll -DEMULATOR=wine-run
#         -DLINUX_BUILD=build -DWORK=... -P run_host.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
set(RECTIFY ${LINUX_BUILD}/apps/rectify/planora-rectify)
if(NOT EXISTS ${LINUX_BUILD}/planora-test-host OR NOT EXISTS ${LINUX_BUILD}/libPPlanora.so OR NOT EXISTS ${RECTIFY})
  message(FATAL_ERROR "no Linux build at \"${LINUX_BUILD}\" to compare with (configure with -DPLANORA_LINUX_BUILD=...)")
endif()

# Runs one side's host in MODE in WORK/SIDE/NAME.
function(run_host side mode name)
  set(dir ${WORK}/${side}/${name})
  file(MAKE_DIRECTORY ${dir})
  if(EXISTS ${WORK}/${name}.ini)
    file(COPY_FILE ${WORK}/${name}.ini ${dir}/planora.ini)
  endif()
  if(side STREQUAL "windows")
    set(command ${EMULATOR} ${HOST} ${LIBRARY} ${dir} ${mode})
  else()
    # Headless, as a host without a screen runs it: the windows are the same.
    set(command ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
                ${LINUX_BUILD}/planora-test-host ${LINUX_BUILD}/libPPlanora.so ${dir} ${mode})
  endif()
  execute_process(COMMAND ${command} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
  if(rc EQUAL 77)
    message(STATUS "skipped: this machine cannot run the 32-bit DLL (no 32-bit Wine)")
    set(skipped TRUE PARENT_SCOPE)
    return()
  endif()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the ${side} host's run in mode ${mode} (${name}) failed (exit ${rc}):\n${out}\n${err}")
  endif()
endfunction()

function(expect_same a b what)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${a} ${b} RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${what}: ${a} and ${b} differ")
  endif()
endfunction()

# A settings file's lines, line ends aside (Windows writes CRLF).
function(settings_text file out)
  file(READ ${file} text)
  string(REPLACE "\r" "" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The picture's fingerprint, as each side stored it after a closed run.
foreach(side windows linux)
  set(skipped FALSE)
  run_host(${side} close close)
  if(skipped)
    return()
  endif()
endforeach()
settings_text(${WORK}/windows/close/planora.ini windowsClose)
settings_text(${WORK}/linux/close/planora.ini linuxClose)
if(NOT windowsClose STREQUAL linuxClose)
  message(FATAL_ERROR "after a closed run the settings differ (is the screen 1904 x 1019?):\n"
                      "Windows:\n${windowsClose}\nLinux:\n${linuxClose}")
endif()
string(REGEX MATCH "Inhash=([-0-9]+)" found "${linuxClose}")
set(inhash ${CMAKE_MATCH_1})

# A marker seen at an angle, stored for the same picture: the window opens
# with it. Upper right, upper left, lower left, lower right, from the centre;
# a plausible pose (focal ratio about 0.69), so no warning stops the script.
foreach(name tilted tilted-nearest)
  file(WRITE ${WORK}/${name}.ini "[Planroa]\nInhash=${inhash}\nSelection_a0=230\nSelection_a1=-170\n"
       "Selection_b0=-200\nSelection_b1=-150\nSelection_c0=-240\nSelection_c1=180\n"
       "Selection_d0=260\nSelection_d1=200\nOriginal_Groesse=100\n")
endforeach()

foreach(name flow tilted tilted-nearest refuse-get refuse-put empty)
  set(mode ${name})
  if(name STREQUAL "tilted")
    set(mode flow)
  elseif(name STREQUAL "tilted-nearest")
    set(mode flow-nearest)
  endif()
  run_host(windows ${mode} ${name})
  if(name MATCHES "flow|tilted")
    run_host(linux ${mode} ${name})
  endif()
endforeach()

expect_same(${WORK}/windows/flow/input.ppm ${WORK}/linux/flow/input.ppm "the host's picture")
foreach(name flow tilted tilted-nearest)
  set(dir ${WORK}/windows/${name})
  set(nearest "")
  if(name STREQUAL "tilted-nearest")
    set(nearest --nearest)
  endif()
  execute_process(COMMAND ${RECTIFY} --settings ${dir}/planora.ini ${nearest} ${dir}/input.ppm ${dir}/linux.ppm
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "planora-rectify failed on the ${name} run's picture (exit ${rc}): ${err}")
  endif()
  expect_same(${dir}/result.ppm ${dir}/linux.ppm
              "the result the DLL handed over (${name}) is not planora-rectify's for the same corners")
  expect_same(${dir}/result.ppm ${WORK}/linux/${name}/result.ppm
              "the result the DLL handed over (${name}) is not the Linux library's")
  settings_text(${dir}/planora.ini windowsText)
  settings_text(${WORK}/linux/${name}/planora.ini linuxText)
  if(NOT windowsText STREQUAL linuxText)
    message(FATAL_ERROR "the settings after the ${name} run differ:\nWindows:\n${windowsText}\nLinux:\n${linuxText}")
  endif()
endforeach()
# A settings file the DLL makes has Windows line ends (one it is given keeps its own).
file(READ ${WORK}/windows/flow/planora.ini raw HEX)
if(NOT raw MATCHES "0d0a$" OR raw MATCHES "[^d]0a")
  message(FATAL_ERROR "the DLL's new settings file does not have Windows line ends")
endif()
settings_text(${WORK}/windows/tilted/planora.ini tiltedText)
if(NOT tiltedText MATCHES "Selection_b0=-19[0-9.]+\n|Selection_b0=-20[0-9.]+\n")
  message(FATAL_ERROR "the tilted marker was not the one the window used:\n${tiltedText}")
endif()
# The three runs are three different pictures: the marker and the option took effect.
foreach(pair "flow;tilted" "tilted;tilted-nearest")
  list(GET pair 0 a)
  list(GET pair 1 b)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/windows/${a}/result.ppm
                          ${WORK}/windows/${b}/result.ppm RESULT_VARIABLE differ)
  if(differ EQUAL 0)
    message(FATAL_ERROR "the ${a} and ${b} runs gave the same picture")
  endif()
endforeach()
expect_same(${WORK}/windows/flow/glyph.ppm ${WORK}/linux/flow/glyph.ppm "the glyph's pixels")

settings_text(${WORK}/windows/refuse-get/planora.ini refused)
if(NOT refused MATCHES "Inhash=0\n")
  message(FATAL_ERROR "after a refused picture the DLL's settings say:\n${refused}")
endif()
if(EXISTS ${WORK}/windows/empty/planora.ini)
  message(FATAL_ERROR "an empty picture rectangle still opened the DLL's window")
endif()
message(STATUS "ran the ${BITS}-bit DLL under Wine: the same bytes as the Linux library")
