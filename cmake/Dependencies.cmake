# liblzma: the system's on the host, the cached static cross builds for
# Windows: the programs carry the decoder alone (configured by
# liblzma-decoder.conf, cached under the start of that file's SHA-256, as
# scripts/bootstrap.sh names it); everything else links the whole library.
# A target that sets CORV_LZMA_DECODER_ONLY links the decoder.
if(WIN32)
  set(CORV_LZMA_CACHE "$ENV{CORV_CACHE}")
  if(NOT CORV_LZMA_CACHE)
    set(CORV_LZMA_CACHE /var/cache/corvantis)
  endif()
  set(CORV_LZMA_PREFIX ${CORV_LZMA_CACHE}/liblzma-${CMAKE_SYSTEM_PROCESSOR})
  set(corv_lzma_conf ${CMAKE_CURRENT_LIST_DIR}/liblzma-decoder.conf)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${corv_lzma_conf})
  file(SHA256 ${corv_lzma_conf} corv_lzma_key)
  string(SUBSTRING ${corv_lzma_key} 0 12 corv_lzma_key)
  set(CORV_LZMA_DECODER_PREFIX ${CORV_LZMA_CACHE}/liblzma-${CMAKE_SYSTEM_PROCESSOR}-decoder-${corv_lzma_key})
  foreach(prefix ${CORV_LZMA_PREFIX} ${CORV_LZMA_DECODER_PREFIX})
    if(NOT EXISTS ${prefix}/.complete)
      message(FATAL_ERROR "static liblzma missing in ${prefix}: run scripts/bootstrap.sh")
    endif()
  endforeach()
  add_library(lzma INTERFACE IMPORTED GLOBAL)
  set_target_properties(lzma PROPERTIES
    INTERFACE_LINK_LIBRARIES
      "$<IF:$<BOOL:$<TARGET_PROPERTY:CORV_LZMA_DECODER_ONLY>>,${CORV_LZMA_DECODER_PREFIX},${CORV_LZMA_PREFIX}>/lib/liblzma.a"
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
