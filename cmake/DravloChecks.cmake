# Second opinions on every build.
#
# dravlo_product_code(<target>...) marks the library's own code: warnings are
# errors with GCC and with Clang, and with DRAVLO_ANALYSE (the windows-clang
# preset) clang-tidy (.clang-tidy at the root) and cppcheck read each of its
# sources as it compiles, so a finding fails the build like an error does and
# only what changed is read again.
#
# DRAVLO_SANITIZE, for the native builds outside Windows: "thread"
# (ThreadSanitizer) or "address" (AddressSanitizer with
# UndefinedBehaviorSanitizer) on everything the build compiles. Any report
# ends the test program with a failure (tests/sanitizers).

# Clang proves the lock discipline that com/CheckedMutex.h annotates.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wthread-safety>)
endif()

option(DRAVLO_ANALYSE "Run clang-tidy and cppcheck on product code as it compiles" OFF)
set(DRAVLO_SANITIZE "" CACHE STRING "Native builds: thread, or address (with undefined behaviour)")

if(DRAVLO_SANITIZE)
  if(WIN32)
    message(FATAL_ERROR "DRAVLO_SANITIZE is for the native builds only")
  elseif(DRAVLO_SANITIZE STREQUAL "thread")
    set(sanitizer_flags -fsanitize=thread)
  elseif(DRAVLO_SANITIZE STREQUAL "address")
    set(sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=all)
  else()
    message(FATAL_ERROR "DRAVLO_SANITIZE: thread or address, not ${DRAVLO_SANITIZE}")
  endif()
  add_compile_options(${sanitizer_flags} -fno-omit-frame-pointer)
  add_link_options(${sanitizer_flags})
endif()

if(DRAVLO_ANALYSE)
  # The analysers read include directories from the command line only, not
  # from the response file CMake otherwise uses for a Windows target.
  set(CMAKE_CXX_USE_RESPONSE_FILE_FOR_INCLUDES OFF)
  find_program(DRAVLO_CLANG_TIDY clang-tidy REQUIRED)
  find_program(DRAVLO_CPPCHECK cppcheck REQUIRED)
  # Each suppression names its reason: cmake/cppcheck-suppressions.txt and
  # the comments in .clang-tidy.
  set(DRAVLO_CLANG_TIDY_COMMAND ${DRAVLO_CLANG_TIDY} --quiet)
  set(DRAVLO_CPPCHECK_COMMAND ${DRAVLO_CPPCHECK} --quiet --error-exitcode=1 --std=c++20 --language=c++
      --enable=warning,style,performance,portability --inline-suppr --library=windows --template=gcc
      --suppressions-list=${CMAKE_SOURCE_DIR}/cmake/cppcheck-suppressions.txt)
  if(WIN32)
    # The configuration the compiler sees, not every combination of macros.
    list(APPEND DRAVLO_CPPCHECK_COMMAND -D_WIN32 -D_WIN64)
  endif()
endif()

function(dravlo_product_code)
  foreach(target IN LISTS ARGN)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
      target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Werror>)
    endif()
    if(DRAVLO_ANALYSE)
      set_target_properties(${target} PROPERTIES
        CXX_CLANG_TIDY "${DRAVLO_CLANG_TIDY_COMMAND}" CXX_CPPCHECK "${DRAVLO_CPPCHECK_COMMAND}")
      # A changed configuration reads every source again.
      get_target_property(sources ${target} SOURCES)
      get_target_property(directory ${target} SOURCE_DIR)
      set(analysed)
      foreach(source IN LISTS sources)
        if(source MATCHES "\\.cpp$")
          get_filename_component(source ${source} ABSOLUTE BASE_DIR ${directory})
          list(APPEND analysed ${source})
        endif()
      endforeach()
      set_source_files_properties(${analysed} TARGET_DIRECTORY ${target} PROPERTIES
        OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/.clang-tidy;${CMAKE_SOURCE_DIR}/cmake/cppcheck-suppressions.txt")
    endif()
  endforeach()
endfunction()
