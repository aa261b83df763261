# QUIETWAY_SANITIZE names the sanitizers of a Linux build ("address,undefined" or "thread");
# CI builds the suite once with each besides the plain build.
set(QUIETWAY_SANITIZE "" CACHE STRING "Sanitizers for a Linux build: address,undefined or thread")

if(QUIETWAY_SANITIZE)
  if(WIN32)
    message(FATAL_ERROR "QUIETWAY_SANITIZE is for the Linux build only")
  endif()
  set(sanitizer_flags -fsanitize=${QUIETWAY_SANITIZE} -fno-omit-frame-pointer)
  if(QUIETWAY_SANITIZE MATCHES "undefined")
    # A finding ends the program, so the test fails instead of printing and passing.
    list(APPEND sanitizer_flags -fno-sanitize-recover=all)
  endif()
  if(QUIETWAY_SANITIZE MATCHES "address")
    # g++ 12's <regex> warns of maybe-uninitialized members once ASan instruments it; the
    # plain build keeps the warning, where it is not a false alarm of the instrumentation.
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  # -O1 and line tables only: the sanitizers' own recommendation for their reports, and it
  # builds these trees in much less time than -O2 -g. Given after the build type's flags,
  # so these win.
  add_compile_options(${sanitizer_flags} -O1 -g1)
  add_link_options(${sanitizer_flags})
endif()

# quietway_without_sanitizers(<target>) compiles the target's own sources uninstrumented (it
# still links the runtime): for programs that fault on purpose, where a sanitizer would stop
# the deliberate fault before the code under test sees it.
function(quietway_without_sanitizers target)
  if(QUIETWAY_SANITIZE)
    target_compile_options(${target} PRIVATE -fno-sanitize=all)
  endif()
endfunction()
