# Cross toolchain of the 64-bit stand-in tree: the same sources as the i686
# tree, for machines whose kernel cannot start 32-bit programs. The product
# stays the i686 program; this tree only runs tests at native speed there,
# under wine64 in a 64-bit prefix of its own where no 32-bit process starts.
set(CORV_MINGW_CPU x86_64)
set(CORV_WINE_RUN_ARGS --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
