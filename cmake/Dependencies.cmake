# liblzma: the system's on the host, the cached static cross build for Windows.
if(WIN32)
  set(CORV_LZMA_PREFIX "$ENV{CORV_CACHE}")
  if(NOT CORV_LZMA_PREFIX)
    set(CORV_LZMA_PREFIX /var/cache/corvantis)
  endif()
  set(CORV_LZMA_PREFIX ${CORV_LZMA_PREFIX}/liblzma-${CMAKE_SYSTEM_PROCESSOR})
  if(NOT EXISTS ${CORV_LZMA_PREFIX}/lib/liblzma.a)
    message(FATAL_ERROR "static liblzma missing in ${CORV_LZMA_PREFIX}: run scripts/bootstrap.sh")
  endif()
  add_library(lzma STATIC IMPORTED GLOBAL)
  set_target_properties(lzma PROPERTIES
    IMPORTED_LOCATION ${CORV_LZMA_PREFIX}/lib/liblzma.a
    INTERFACE_INCLUDE_DIRECTORIES ${CORV_LZMA_PREFIX}/include
    INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
else()
  find_library(LZMA_LIB lzma REQUIRED)
  add_library(lzma INTERFACE IMPORTED GLOBAL)
  set_target_properties(lzma PROPERTIES INTERFACE_LINK_LIBRARIES ${LZMA_LIB})
endif()

if(NOT CORV_NO_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  if(WIN32)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  endif()
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(WIN32)
    # The win32 thread model has no std::mutex, which GoogleTest's
    # Notification wants; give it one over a Win32 event.
    set(CORV_GTEST_WIN32_FIX -include ${CORV_ROOT}/tests/support/gtest_win32_notification.h)
    foreach(t gtest gtest_main gmock gmock_main)
      target_compile_options(${t} PRIVATE ${CORV_GTEST_WIN32_FIX})
    endforeach()
  endif()
endif()
