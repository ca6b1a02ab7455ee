# The layers of the code: each folder, its library target (if it has one)
# and the folders it may use directly; what those may use comes with them.
# Two checks read this list: the configure step holds every layer target's
# links to it (planora_check_layer_links), and the test Build.LayerIncludes
# holds every source file's #include "..." lines to it (check_layers.cmake).
# A header whose declarations live in a `detail` namespace belongs to its
# folder alone: only that folder, the folder's own tests and the benchmarks
# may include it.
#
# Entry: "folder : target : used folders". A folder below apps/ or tests/
# that is not listed may use every layer (tests also tests/support).
set(PLANORA_LAYERS
  "platform          : planora_platform    : "
  "platform/headless : planora_headless    : platform"
  "platform/win32    : planora_win32       : platform"
  "qt                : planora_qt          : platform"
  "plot              : planora_plot        : platform"
  "engine            : planora_engine      : plot"
  "plugin            : planora_plugin_core : platform"
  "help              : planora_help        : plugin"
  "window            : planora_window      : engine help plugin"
  "plugin/library    : PPlanora            : window platform/headless platform/win32 qt"
  # The detector is a module the programs load (planora-detect.so): it
  # uses no layer, so that it needs nothing of a program; detect/ itself
  # is the small loader, which knows the module's C interface only.
  "detect/module     : planora-detect      : "
  "detect            : planora_detect      : platform detect/module"
  "apps/imageio      : planora_imageio     : platform"
  "apps/host         : planora_host        : plugin"
  "apps/rectify      : planora_batch       : engine apps/imageio detect"
  "apps/planora      : planora_desktop     : apps/host apps/imageio apps/rectify detect"
  "apps/gimp         : planora-gimp        : apps/host apps/rectify"
  "tools             : planora_scene       : apps/imageio plugin apps/planora"
  "resources         :                     : plugin"
  "fuzz              :                     : apps/rectify"
  "bench             :                     : apps/rectify apps/planora tools window platform/headless"
  "tests/support     : planora_test_support : engine platform/headless"
  # Each test folder: the layer it tests first (its detail headers are open
  # to it), then what the tests use besides.
  "tests/platform    : : platform platform/headless tests/support"
  "tests/plot        : : plot platform/headless tests/support"
  "tests/engine      : : engine platform/headless tests/support"
  "tests/window      : : window platform/headless tests/support"
  "tests/help        : : help platform/headless tests/support"
  "tests/plugin      : : plugin platform/headless tests/support"
  "tests/library     : : plugin/library platform/headless tests/support"
  "tests/win32       : : platform/win32 platform/headless tests/support"
  "tests/qt          : : qt window apps/planora tests/support"
  "tests/imageio     : : apps/imageio tests/support"
  "tests/rectify     : : apps/rectify tools tests/support"
  "tests/detect      : : detect tools tests/support"
  "tests/gimp        : : apps/imageio"
  "tests/plugin_host : : plugin"
)

# Splits the list into PLANORA_LAYER_FOLDERS, and for each folder F the
# variables PLANORA_LAYER_TARGET_<F> and PLANORA_LAYER_USES_<F> (all the
# folders it may use, transitively, itself included).
function(planora_read_layers)
  set(_folders "")
  foreach(_entry IN LISTS PLANORA_LAYERS)
    string(REPLACE ":" ";" _parts "${_entry}")
    list(GET _parts 0 _folder)
    list(GET _parts 1 _target)
    list(GET _parts 2 _uses)
    string(STRIP "${_folder}" _folder)
    string(STRIP "${_target}" _target)
    string(STRIP "${_uses}" _uses)
    string(REGEX REPLACE "[ \t]+" ";" _uses "${_uses}")
    list(APPEND _folders ${_folder})
    set(_target_${_folder} "${_target}")
    set(_direct_${_folder} "${_uses}")
  endforeach()
  foreach(_folder IN LISTS _folders)
    set(_closure ${_folder})
    set(_todo ${_direct_${_folder}})
    while(_todo)
      list(POP_FRONT _todo _next)
      if(NOT _next IN_LIST _closure)
        if(NOT _next IN_LIST _folders)
          message(FATAL_ERROR "cmake/layers.cmake: ${_folder} uses ${_next}, which is no layer")
        endif()
        list(APPEND _closure ${_next})
        list(APPEND _todo ${_direct_${_next}})
      endif()
    endwhile()
    set(PLANORA_LAYER_TARGET_${_folder} "${_target_${_folder}}" PARENT_SCOPE)
    set(PLANORA_LAYER_USES_${_folder} "${_closure}" PARENT_SCOPE)
  endforeach()
  set(PLANORA_LAYER_FOLDERS "${_folders}" PARENT_SCOPE)
endfunction()

# Fails the configure step when a layer's library links another layer's
# library that the list does not allow it to use.
function(planora_check_layer_links)
  planora_read_layers()
  set(_owner "")
  foreach(_folder IN LISTS PLANORA_LAYER_FOLDERS)
    if(PLANORA_LAYER_TARGET_${_folder})
      set(_folder_of_${PLANORA_LAYER_TARGET_${_folder}} ${_folder})
    endif()
  endforeach()
  foreach(_folder IN LISTS PLANORA_LAYER_FOLDERS)
    set(_target "${PLANORA_LAYER_TARGET_${_folder}}")
    if(NOT _target OR NOT TARGET ${_target})
      continue()
    endif()
    get_target_property(_type ${_target} TYPE)
    set(_links "")
    foreach(_property INTERFACE_LINK_LIBRARIES LINK_LIBRARIES)
      if(_property STREQUAL "LINK_LIBRARIES" AND _type STREQUAL "INTERFACE_LIBRARY")
        continue()
      endif()
      get_target_property(_more ${_target} ${_property})
      if(_more)
        list(APPEND _links ${_more})
      endif()
    endforeach()
    foreach(_link IN LISTS _links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" _link "${_link}")
      if(DEFINED _folder_of_${_link} AND NOT _folder_of_${_link} IN_LIST PLANORA_LAYER_USES_${_folder})
        message(FATAL_ERROR "${_target} (${_folder}/) links ${_link} (${_folder_of_${_link}}/), "
                            "which cmake/layers.cmake does not let ${_folder}/ use")
      endif()
    endforeach()
  endforeach()
endfunction()
