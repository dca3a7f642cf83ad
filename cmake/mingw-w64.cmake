# Shared part of the mingw-w64 toolchain files: the win32 thread model, so
# that the programs need no winpthread DLL, and Wine as the emulator that
# runs the tree's tests. CORV_MINGW_CPU names the processor.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${CORV_MINGW_CPU})
set(CMAKE_C_COMPILER ${CORV_MINGW_CPU}-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER ${CORV_MINGW_CPU}-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER ${CORV_MINGW_CPU}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${CORV_MINGW_CPU}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine-run.sh ${CORV_WINE_RUN_ARGS})
