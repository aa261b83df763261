# Platform selection and the project-wide warning policy.
if(WIN32)
  set(QUIETWAY_PLATFORM_SUFFIX win)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # Executables import nothing beyond Windows' own DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  set(QUIETWAY_PLATFORM_SUFFIX posix)
  add_compile_definitions(_GNU_SOURCE)
endif()

add_compile_options(-Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)

option(QUIETWAY_BUILD_TESTS "Build the test suites" ON)

# quietway_platform_sources(<out-var> <stem>...) adds <stem>.cpp when it exists and the
# platform file <stem>_win.cpp or <stem>_posix.cpp when that exists.
function(quietway_platform_sources out)
  set(result)
  foreach(stem IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${stem}.cpp)
      list(APPEND result ${stem}.cpp)
    endif()
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${stem}_${QUIETWAY_PLATFORM_SUFFIX}.cpp)
      list(APPEND result ${stem}_${QUIETWAY_PLATFORM_SUFFIX}.cpp)
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Adds every direct subfolder that has a CMakeLists.txt, in name order, so that a new
# component folder needs no edit of its parent. EXCEPT names folders the caller adds itself.
function(quietway_add_subdirectories)
  cmake_parse_arguments(A "" "" "EXCEPT" ${ARGN})
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  if(A_EXCEPT)
    list(REMOVE_ITEM children ${A_EXCEPT})
  endif()
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
