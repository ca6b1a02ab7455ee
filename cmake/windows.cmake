# The Windows plug-in library PPlanora.dll and its tests, cross-built with
# mingw-w64 (make windows). Included from the top-level CMakeLists.txt after
# the layers every build shares.

planora_layer(planora_plugin_core plugin planora_platform)
target_link_libraries(planora_plugin_core PUBLIC version user32)
planora_layer(planora_help help planora_platform planora_plugin_core)
planora_layer(planora_window window planora_engine planora_help planora_plugin_core)
planora_layer(planora_win32 platform/win32 planora_platform)
get_target_property(_win32_type planora_win32 TYPE)
if(NOT _win32_type STREQUAL "INTERFACE_LIBRARY")
  target_link_libraries(planora_win32 PUBLIC comctl32 gdi32 user32)
endif()

add_subdirectory(plugin/library)

planora_tests(win32_tests tests/win32 planora_win32 planora_headless)
if(TARGET win32_tests)
  set_tests_properties(win32_tests PROPERTIES TIMEOUT 300)
endif()

# What a host author sees of the DLL without running it: the file format,
# exactly the seven exports, only system DLLs imported, the resources.
add_test(NAME Dll.Inspection
         COMMAND ${CMAKE_COMMAND} -DDLL=$<TARGET_FILE:PPlanora> -DOBJDUMP=${CMAKE_OBJDUMP}
                 -DBITS=${CMAKE_SIZEOF_VOID_P} -DWORK=${CMAKE_CURRENT_BINARY_DIR}/inspection
                 -P ${CMAKE_SOURCE_DIR}/tests/windows/inspect_dll.cmake)

# A host written in C, the same source as the Linux one, loads the DLL and
# runs it under Wine; its results are compared with the Linux library's.
add_executable(planora-test-host tests/plugin_host/host.c)
target_include_directories(planora-test-host PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(planora-test-host PRIVATE version gdi32 user32)
set(PLANORA_LINUX_BUILD "" CACHE PATH "The Linux build to compare the DLL's results with")
math(EXPR _bits "${CMAKE_SIZEOF_VOID_P} * 8")
add_test(NAME PluginHost.WindowsDllAsOnLinux
         COMMAND ${CMAKE_COMMAND} -DHOST=$<TARGET_FILE:planora-test-host> -DLIBRARY=$<TARGET_FILE:PPlanora>
                 -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR} -DLINUX_BUILD=${PLANORA_LINUX_BUILD}
                 -DWORK=${CMAKE_CURRENT_BINARY_DIR}/plugin-host -DBITS=${_bits}
                 -P ${CMAKE_SOURCE_DIR}/tests/windows/run_host.cmake)
set_tests_properties(PluginHost.WindowsDllAsOnLinux PROPERTIES TIMEOUT 900
                     SKIP_REGULAR_EXPRESSION "skipped: this machine cannot run the 32-bit DLL")

planora_check_layer_links()
