# Cross toolchain for the 32-bit Windows tree: the product.
set(CORV_MINGW_CPU i686)
set(CORV_WINE_RUN_ARGS)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
