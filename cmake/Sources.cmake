# Source selection by folder and file name, so that adding a file needs no
# edit here: a folder or file named "win32" is built only for Windows, one
# named "posix" only for the host.
function(corv_collect out)
  set(result)
  foreach(dir ${ARGN})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS
         ${CORV_ROOT}/${dir}/*.cpp ${CORV_ROOT}/${dir}/*.c)
    foreach(f ${found})
      file(RELATIVE_PATH rel ${CORV_ROOT} ${f})
      if(rel MATCHES "(^|/)${CORV_OTHER_PLATFORM}(/|\\.)" OR rel MATCHES "${CORV_OTHER_PLATFORM}\\.(cpp|c)$")
        continue()
      endif()
      list(APPEND result ${f})
    endforeach()
  endforeach()
  list(SORT result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()
