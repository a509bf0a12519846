# Warnings for our own code: linked PRIVATE so that -Werror never leaks into consumers.
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra -Werror -Wno-missing-field-initializers)

if(TC_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TC_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(TC_SANITIZE STREQUAL "undefined")
  # UBSan alone: for long fuzzing campaigns, several times faster than with ASan.
  add_compile_options(-fsanitize=undefined -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=undefined)
elseif(NOT TC_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TC_SANITIZE must be empty, 'address', 'thread' or 'undefined'")
endif()

# libFuzzer builds (Clang): every library carries the coverage instrumentation, so that the
# fuzz targets (fuzz/, tests/*/fuzz) see into the parsers they link; ASan+UBSan come along
# unless another sanitizer was chosen.
option(TC_BUILD_FUZZ "Build the libFuzzer targets (needs Clang)" OFF)
if(TC_BUILD_FUZZ)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_compile_options(-fsanitize=fuzzer-no-link)
    if(TC_SANITIZE STREQUAL "")
      add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
      add_link_options(-fsanitize=address,undefined)
    endif()
  else()
    message(WARNING "TC_BUILD_FUZZ needs Clang: only the replay tests of the fuzz targets are built")
  endif()
endif()

# Core targets register themselves here; `tcore` links them all.
set(TC_CORE_TARGETS "" CACHE INTERNAL "")
function(tc_core_target name)
  set(TC_CORE_TARGETS ${TC_CORE_TARGETS} ${name} CACHE INTERNAL "")
endfunction()

# tc_add_test(NAME <exe> LABEL unit|sim|netns|gui SOURCES ... LIBS ... [TIMEOUT s] [ENV k=v ...])
# One test executable per subsystem, discovered test by test, with a time-out and a label.
function(tc_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main project_warnings)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${T_ENV}")
endfunction()
