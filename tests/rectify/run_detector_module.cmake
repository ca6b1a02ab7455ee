# The detector's module as users meet it, through the built programs:
# - no program needs an OpenCV library to start; only the module does;
# - planora-rectify with given corners never loads the module, --auto does;
# - without the module (PLANORA_DETECT_MODULE naming a missing file) --auto
#   ends with exit status 3, names the file and why, and writes nothing.
#   cmake -DRECTIFY=... -DPROGRAMS=a,b -DMODULE=... -DPHOTO=... -DCORNERS=... -DWORK=...
#         -P run_detector_module.cmake
cmake_policy(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
string(REPLACE "," ";" programs "${PROGRAMS}")

file(GET_RUNTIME_DEPENDENCIES EXECUTABLES ${programs} RESOLVED_DEPENDENCIES_VAR needed
     UNRESOLVED_DEPENDENCIES_VAR unresolved)
if(NOT needed MATCHES "libc\\.so")
  message(FATAL_ERROR "the programs' libraries could not be listed: ${needed} ${unresolved}")
endif()
foreach(library IN LISTS needed unresolved)
  if(library MATCHES "opencv")
    message(FATAL_ERROR "one of ${programs} needs ${library}: OpenCV belongs to the detector's module alone")
  endif()
endforeach()
file(GET_RUNTIME_DEPENDENCIES LIBRARIES ${MODULE} RESOLVED_DEPENDENCIES_VAR needed UNRESOLVED_DEPENDENCIES_VAR unresolved)
if(NOT needed MATCHES "libopencv_imgproc" OR unresolved)
  message(FATAL_ERROR "the module ${MODULE} does not bring OpenCV's imgproc, or lacks a library: ${needed} ${unresolved}")
endif()

# One run of the batch tool, the dynamic loader telling which files it maps.
function(rectify name)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_DEBUG=files ${ENV_SETTINGS} ${RECTIFY} ${ARGN}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
  file(WRITE ${WORK}/${name}.log "${out}\n${err}")
  set(rc ${rc} PARENT_SCOPE)
  set(said "${out}\n${err}" PARENT_SCOPE)
endfunction()

file(READ ${CORNERS} corners)
string(STRIP "${corners}" corners)
set(ENV_SETTINGS --unset=PLANORA_DETECT_MODULE)
rectify(given --corners ${corners} ${PHOTO} ${WORK}/given.png)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "planora-rectify with given corners failed (${rc}):\n${said}")
endif()
if(said MATCHES "planora-detect|opencv")
  message(FATAL_ERROR "a run with given corners loaded the detector:\n${said}")
endif()

rectify(auto --auto ${PHOTO} ${WORK}/auto.png)
if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/auto.png)
  message(FATAL_ERROR "planora-rectify --auto failed (${rc}):\n${said}")
endif()
string(FIND "${said}" "file=${MODULE} [0];  dynamically loaded" at)
if(at EQUAL -1)
  message(FATAL_ERROR "--auto did not load ${MODULE}:\n${said}")
endif()

set(missing ${WORK}/no-such-folder/planora-detect.so)
set(ENV_SETTINGS PLANORA_DETECT_MODULE=${missing})
rectify(missing --auto ${PHOTO} ${WORK}/missing.png)
set(expected "planora-rectify: --auto cannot look for the corners: automatic corners are not available: ${missing}: cannot open shared object file: No such file or directory; give the corners with --corners or --pixel-corners")
string(FIND "${said}" "${expected}" at)
if(NOT rc EQUAL 3 OR at EQUAL -1)
  message(FATAL_ERROR "without the module --auto should end with 3 and say\n  ${expected}\nbut ended with ${rc}:\n${said}")
endif()
if(EXISTS ${WORK}/missing.png)
  message(FATAL_ERROR "without the module --auto still wrote a picture")
endif()
