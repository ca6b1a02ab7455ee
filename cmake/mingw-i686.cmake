# The 32-bit Windows DLL users install (build-windows/).
set(PLANORA_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
