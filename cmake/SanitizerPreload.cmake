# lyrane_sanitizer_preload(<var>): the shared sanitizer runtimes a program
# that is not ours, or a preload library put in front of one of ours, needs
# first in LD_PRELOAD in this build; empty without sanitizers. A
# ThreadSanitizer runtime cannot be preloaded; <var> is then "UNAVAILABLE".
function(lyrane_sanitizer_preload var)
  set(preload)
  if(LYRANE_SANITIZE MATCHES "thread")
    set(${var} UNAVAILABLE PARENT_SCOPE)
    return()
  endif()
  foreach(runtime asan ubsan)
    if(LYRANE_SANITIZE MATCHES "address" AND runtime STREQUAL "asan" OR
       LYRANE_SANITIZE MATCHES "undefined" AND runtime STREQUAL "ubsan")
      execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=lib${runtime}.so
        OUTPUT_VARIABLE library OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(NOT IS_ABSOLUTE "${library}" OR NOT EXISTS "${library}")
        set(${var} UNAVAILABLE PARENT_SCOPE)
        return()
      endif()
      list(APPEND preload ${library})
    endif()
  endforeach()
  set(${var} "${preload}" PARENT_SCOPE)
endfunction()
