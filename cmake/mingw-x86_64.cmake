# The 64-bit Windows DLL the tests run under wine64 (build-windows64/).
set(PLANORA_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
