# Runs GIMP 2.10 without its interface (gimp -i -b ...) on a throw-away
# profile folder whose gimprc puts the folder with planora-gimp on the
# plug-in path, and checks what the plug-in did by saving the layers.
#   cmake -DGIMP=... -DPLUGIN_DIR=... -DRECTIFY=... -DSAME=... -DSAMPLE=.../poster
#         [-DPLANORA=... -DBUILD=...] -DWORK=... -DCASE=... -P run_gimp.cmake
# CASE:
#   procedure  plug-in-planora-straighten on the sample: planora-rectify's bytes
#              (red, transparent, nearest), an undoable change
#   window     the window's run (under xvfb-run, driven by PLANORA_SCRIPT): the
#              desktop program's bytes; closed without a result, the layer as it
#              was; an RGBA layer's result opaque
#   install    cmake --install into a fresh prefix: GIMP finds the plug-in in
#              that prefix's plug-in folder, and it finds the library
#   refusals   an indexed image, an empty selection, a bad crop, a corner
#              outside, a channel: GIMP messages, no crash
# PLUGIN_DIR is a plug-ins folder holding planora-gimp/planora-gimp.
cmake_policy(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(photo ${SAMPLE}.jpg)

# One GIMP run on a fresh profile; its output goes to ${WORK}/${name}.log.
function(gimp_run name)
  set(profile ${WORK}/${name}-profile)
  # A batch run does not fill a new profile folder: the folders GIMP saves
  # its data into at the end are made here. GIMP's own plug-ins (Script-Fu
  # above all) stay on the path.
  foreach(folder brushes dynamics gradients palettes patterns tool-presets mypaint-brushes)
    file(MAKE_DIRECTORY ${profile}/${folder})
  endforeach()
  file(WRITE ${profile}/gimprc "(plug-in-path \"${PLUGIN_DIR}:\${gimp_plug_in_dir}/plug-ins\")\n")
  set(ENV{GIMP2_DIRECTORY} ${profile})
  set(batch)
  foreach(command IN LISTS ARGN)
    list(APPEND batch -b "${command}")
  endforeach()
  execute_process(COMMAND ${GIMP} -i -d -f --batch-interpreter plug-in-script-fu-eval ${batch} -b "(gimp-quit 0)"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 180)
  file(WRITE ${WORK}/${name}.log "${out}\n${err}")
  set(output "${out}\n${err}" PARENT_SCOPE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "GIMP ended with ${rc}:\n${out}\n${err}")
  endif()
  if(output MATCHES "crashed|terminated|Segmentation")
    message(FATAL_ERROR "the plug-in crashed:\n${out}\n${err}")
  endif()
endfunction()

function(same_pixels a b what)
  execute_process(COMMAND ${SAME} ${ARGN} ${a} ${b} RESULT_VARIABLE rc ERROR_VARIABLE why)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what}: ${why}")
  endif()
endfunction()

# The desktop program's run of the window on the photo as GIMP has it
# (original.ppm), with PLANORA_SCRIPT as set and settings of its own.
function(desktop_run file)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env XDG_CONFIG_HOME=${WORK}/desktop-config
                          ${PLANORA} --run-plugin --save-result ${WORK}/${file} ${WORK}/original.ppm
                  RESULT_VARIABLE rc TIMEOUT 120)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the desktop program's run failed (${rc})")
  endif()
endfunction()

# Script-Fu that loads the sample into `image` and `layer`, with its undo
# on as in an image opened from the menu (a script's load leaves it off).
set(load "(image (car (gimp-file-load RUN-NONINTERACTIVE \"${photo}\" \"${photo}\"))) (layer (car (gimp-image-get-active-drawable image))) (undo (gimp-image-undo-enable image))")
macro(save file)
  set(save_${file} "(file-pnm-save RUN-NONINTERACTIVE image layer \"${WORK}/${file}\" \"${WORK}/${file}\" 1)")
endmacro()

if(CASE STREQUAL "procedure")
  # The sample's true corners in photo pixels, for both programs alike.
  file(READ ${SAMPLE}.json truth)
  set(corners)
  foreach(k a b c d)
    foreach(i 0 1)
      string(JSON v GET "${truth}" pixel_corners ${k} ${i})
      list(APPEND corners ${v})
    endforeach()
  endforeach()
  list(JOIN corners " " spaced)
  list(JOIN corners "," commas)
  # GIMP's JPEG loader and planora-rectify's may decode the sample a shade
  # apart: the batch tool gets the photo as GIMP has it.
  save(original.ppm)
  gimp_run(original "(let* (${load}) ${save_original.ppm})")
  foreach(kind red transparent nearest)
    set(clear FALSE)
    set(interpolate TRUE)
    set(options)
    set(crop 90)
    if(kind STREQUAL "transparent")
      # Small enough that the photo does not reach every output pixel.
      set(clear TRUE)
      set(crop 40)
    elseif(kind STREQUAL "nearest")
      set(interpolate FALSE)
      set(options --nearest)
    endif()
    set(file ${kind}.png)
    gimp_run(procedure-${kind}
      "(let* (${load}) (plug-in-planora-straighten RUN-NONINTERACTIVE image layer ${spaced} ${crop} ${interpolate} ${clear}) (gimp-message (string-append \"undo:\" (number->string (car (gimp-image-undo-is-enabled image))) \" dirty:\" (number->string (car (gimp-image-is-dirty image))) \" alpha:\" (number->string (car (gimp-drawable-has-alpha layer))))) (file-png-save-defaults RUN-NONINTERACTIVE image layer \"${WORK}/${file}\" \"${WORK}/${file}\"))")
    # The change went onto the undo stack (undo on, image dirty); only a
    # transparent result needs an alpha channel.
    set(alpha 0)
    if(clear)
      set(alpha 1)
    endif()
    if(NOT output MATCHES "undo:1 dirty:1 alpha:${alpha}")
      message(FATAL_ERROR "${kind}: the change is not an undoable one, or the alpha channel is wrong:\n${output}")
    endif()
    execute_process(COMMAND ${RECTIFY} --pixel-corners ${commas} --crop ${crop} ${options} ${WORK}/original.ppm ${WORK}/${kind}-batch.ppm
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "planora-rectify failed (${rc})")
    endif()
    # Transparent pixels read back over white: exactly those the batch tool
    # made red.
    set(compare)
    if(clear)
      set(compare --red-is-white)
    endif()
    same_pixels(${WORK}/${file} ${WORK}/${kind}-batch.ppm "${kind}: the layer is not planora-rectify's result" ${compare})
  endforeach()

  # A grey photo with a selection: the selection's bounds are straightened
  # (the corners still in the layer's pixels), the image becomes RGB in the
  # same step, and the layer outside the bounds keeps its pixels.
  macro(crop_save from w h x y file)
    string(APPEND steps " (let* ((copy (car (gimp-image-duplicate ${from})))) (gimp-image-crop copy ${w} ${h} ${x} ${y}) (file-pnm-save RUN-NONINTERACTIVE copy (car (gimp-image-get-active-drawable copy)) \"${WORK}/${file}\" \"${WORK}/${file}\" 1))")
  endmacro()
  set(steps)
  crop_save(image 1600 1300 300 100 grey-region-before.pnm)
  crop_save(image 300 1536 0 0 grey-left-before.pnm)
  string(APPEND steps " (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 300 100 1600 1300) (plug-in-planora-straighten RUN-NONINTERACTIVE image layer 1646 154 693 487 653 1173 1746 1014 90 TRUE FALSE) (gimp-selection-none image) (gimp-message (string-append \"base:\" (number->string (car (gimp-image-base-type image)))))")
  crop_save(image 1600 1300 300 100 grey-region-after.pnm)
  crop_save(image 300 1536 0 0 grey-left-after.pnm)
  gimp_run(grey "(let* (${load}) (gimp-image-convert-grayscale image) ${steps})")
  if(NOT output MATCHES "base:0")
    message(FATAL_ERROR "the grey image did not become RGB:\n${output}")
  endif()
  execute_process(COMMAND ${RECTIFY} --pixel-corners 1346,54,393,387,353,1073,1446,914 ${WORK}/grey-region-before.pnm
                          ${WORK}/grey-batch.ppm RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "planora-rectify failed on the grey region (${rc})")
  endif()
  same_pixels(${WORK}/grey-region-after.pnm ${WORK}/grey-batch.ppm "the selection's bounds of a grey photo")
  same_pixels(${WORK}/grey-left-after.pnm ${WORK}/grey-left-before.pnm "pixels outside the selection's bounds changed")

elseif(CASE STREQUAL "window")
  # With a result: Preview, then Pretty Print and Close.
  set(ENV{PLANORA_SCRIPT} "Vorschau1;Fertigstellen1")
  save(window.ppm)
  save(original.ppm)
  gimp_run(window "(let* (${load}) ${save_original.ppm} (plug-in-planora RUN-INTERACTIVE image layer) ${save_window.ppm})")
  if(NOT EXISTS ${WORK}/window-profile/planora.ini)
    message(FATAL_ERROR "the window wrote no settings into GIMP's profile folder:\n${output}")
  endif()
  # The desktop program, the other host, with the same script on the same
  # pixels: the same window, so the same bytes. (planora-rectify --settings
  # would not do: the settings file keeps the corners to 15 digits.)
  desktop_run(desktop.ppm)
  same_pixels(${WORK}/window.ppm ${WORK}/desktop.ppm "the window's result in the layer")

  # Closed without a result: the layer keeps the photo, and an RGBA layer's
  # run still ends cleanly.
  set(ENV{PLANORA_SCRIPT} "close")
  save(closed.ppm)
  gimp_run(closed "(let* (${load}) (plug-in-planora RUN-INTERACTIVE image layer) ${save_closed.ppm})")
  same_pixels(${WORK}/closed.ppm ${WORK}/original.ppm "a window closed without a result changed the layer")
  if(NOT EXISTS ${WORK}/closed-profile/planora.ini)
    message(FATAL_ERROR "the closed window wrote no settings")
  endif()

  # An RGBA layer gets the result opaque: saved without alpha it reads the same.
  set(ENV{PLANORA_SCRIPT} "Fertigstellen1")
  save(rgba.ppm)
  save(rgb.ppm)
  gimp_run(rgba
    "(let* (${load}) (plug-in-planora RUN-INTERACTIVE image layer) ${save_rgb.ppm})"
    "(let* (${load}) (gimp-layer-add-alpha layer) (plug-in-planora RUN-INTERACTIVE image layer) (gimp-message (string-append \"alpha-after:\" (number->string (car (gimp-drawable-has-alpha layer))))) (file-png-save-defaults RUN-NONINTERACTIVE image layer \"${WORK}/rgba.png\" \"${WORK}/rgba.png\"))")
  if(NOT output MATCHES "alpha-after:1")
    message(FATAL_ERROR "the RGBA run did not end as expected:\n${output}")
  endif()
  # Read back over white, a transparent pixel would differ from the RGB run's.
  same_pixels(${WORK}/rgba.png ${WORK}/rgb.ppm "an RGBA layer's result is not opaque")

elseif(CASE STREQUAL "install")
  # A fresh prefix: GIMP, told only that prefix's plug-in folder, finds the
  # plug-in, and the plug-in finds the library installed beside it.
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${rc})")
  endif()
  set(PLUGIN_DIR ${WORK}/prefix/lib/gimp/2.0/plug-ins)
  if(NOT EXISTS ${PLUGIN_DIR}/planora-gimp/planora-gimp)
    message(FATAL_ERROR "the install lacks lib/gimp/2.0/plug-ins/planora-gimp/planora-gimp")
  endif()
  # The corner detector's module, where a program of the prefix, this
  # plug-in folder's included, looks for it (detect/loader.cpp).
  file(GLOB_RECURSE detector ${WORK}/prefix/*/planora/planora-detect.so)
  if(NOT detector)
    message(FATAL_ERROR "the install lacks the corner detector's module planora-detect.so")
  endif()
  set(ENV{PLANORA_SCRIPT} "Fertigstellen1")
  unset(ENV{PLANORA_PLUGIN})
  save(installed.ppm)
  save(original.ppm)
  gimp_run(installed "(let* (${load}) ${save_original.ppm} (plug-in-planora RUN-INTERACTIVE image layer) ${save_installed.ppm})")
  desktop_run(desktop.ppm)
  same_pixels(${WORK}/installed.ppm ${WORK}/desktop.ppm "the installed plug-in's result")

elseif(CASE STREQUAL "refusals")
  set(ENV{PLANORA_SCRIPT} "")
  gimp_run(refusals
    "(let* (${load}) (gimp-image-convert-indexed image CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 16 FALSE FALSE \"\") (plug-in-planora-straighten RUN-NONINTERACTIVE image layer 10 10 100 10 100 100 10 100 90 TRUE FALSE))"
    "(let* ((image (car (gimp-image-new 100 100 RGB))) (layer (car (gimp-layer-new image 40 40 RGB-IMAGE \"small\" 100 LAYER-MODE-NORMAL)))) (gimp-image-insert-layer image layer 0 0) (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 60 60 30 30) (plug-in-planora RUN-INTERACTIVE image layer))"
    "(let* (${load}) (plug-in-planora-straighten RUN-NONINTERACTIVE image layer 10 10 100 10 100 100 10 100 101 TRUE FALSE))"
    "(let* (${load}) (plug-in-planora-straighten RUN-NONINTERACTIVE image layer -500 10 100 10 100 100 10 100 90 TRUE FALSE))"
    "(let* (${load} (channel (car (gimp-channel-new image 2048 1536 \"mask\" 50 '(0 0 0))))) (gimp-image-insert-channel image channel 0 0) (plug-in-planora-straighten RUN-NONINTERACTIVE image channel 10 10 100 10 100 100 10 100 90 TRUE FALSE))"
    "(gimp-message \"refusals done\")")
  foreach(expected "cannot straighten an indexed-colour image" "does not cover any pixel of the layer"
                   "crop size must be from 1 to 100" "Corner a \\(-500, 10\\) lies outside the layer, which spans columns 0 .. 2048"
                   "not a mask, channel or layer group" "refusals done")
    if(NOT output MATCHES "${expected}")
      message(FATAL_ERROR "GIMP did not say \"${expected}\":\n${output}")
    endif()
  endforeach()
else()
  message(FATAL_ERROR "unknown CASE \"${CASE}\"")
endif()
