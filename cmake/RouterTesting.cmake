# Test helpers shared by every module.
#
#   rt_add_gtest(name LABEL unit|process|interop|wine SOURCES ... [LIBS ...] [ENV VAR=value ...]
#                [TIMEOUT seconds] [RUN_SERIAL] [SHOWS_WINDOWS] [CASES Suite.Case ...] [LAUNCHER command ...])
# With CASES, each named case runs in a test program of its own, one at a time (cases that drive one
# program's windows on the shared display must not overlap). With LAUNCHER, the test runs as
# `command ... [emulator] <program>`: a wrapper that prepares the program's surroundings and starts it
# (after the emulator when cross-built). SHOWS_WINDOWS marks a test that puts windows on the virtual
# display the Windows tests share: such tests take turns with each other, so no program's window
# covers another's while pictures are taken or pixels read.
#     One GoogleTest program, registered as one ctest test with the given label. Test programs land in
#     <build>/tests so bin/ holds only deliverables and tools.
#
#   rt_add_fuzzer(name SOURCES ... [LIBS ...] CORPUS seed-folder)
#     A libFuzzer target, built only in the fuzz preset. ctest runs it for RT_FUZZ_SECONDS over a copy of
#     the committed seed corpus (new inputs go to the build folder, never into the source tree).

enable_testing()

# Fixtures that the tests of more than one folder share, named in this one place so that no folder's
# CMake file spells out where another folder keeps them.
#   RT_INSPECTION_TEST_FIXTURES  the inspection tests' packet builder (packet_builder.h/.cpp) and the
#                                packet captures they replay (captures/)
#   RT_WINE_TEST_FIXTURES        wine_support.h: driving a Windows program's windows under wine
set(RT_INSPECTION_TEST_FIXTURES ${PROJECT_SOURCE_DIR}/inspection/module/tests)
set(RT_WINE_TEST_FIXTURES ${PROJECT_SOURCE_DIR}/windows/upgrade/tests)

if(RT_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # Debian ships GoogleTest's sources; cross-build them with the same toolchain.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

function(rt_add_gtest name)
  cmake_parse_arguments(A "RUN_SERIAL;SHOWS_WINDOWS" "LABEL;TIMEOUT" "SOURCES;LIBS;ENV;CASES;LAUNCHER" ${ARGN})
  if(NOT RT_BUILD_TESTS)
    return()
  endif()
  if(NOT A_LABEL)
    message(FATAL_ERROR "rt_add_gtest(${name}): LABEL is required")
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest GTest::gtest_main)
  # emulator.h: how tests start the build's own programs (under RT_EMULATOR in a cross build).
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/platform/testing)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  set(tests ${name})
  set(command ${name})
  if(A_LAUNCHER)
    set(command ${A_LAUNCHER} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
  endif()
  if(A_CASES)
    set(tests)
    foreach(test_case ${A_CASES})
      add_test(NAME ${name}.${test_case} COMMAND ${command} --gtest_filter=${test_case})
      set_tests_properties(${name}.${test_case} PROPERTIES RESOURCE_LOCK ${name})
      list(APPEND tests ${name}.${test_case})
    endforeach()
  else()
    add_test(NAME ${name} COMMAND ${command})
  endif()
  foreach(test ${tests})
    set_tests_properties(${test} PROPERTIES LABELS ${A_LABEL} TIMEOUT ${A_TIMEOUT})
    if(A_SHOWS_WINDOWS)
      get_test_property(${test} RESOURCE_LOCK locks)
      if(NOT locks)
        set(locks)
      endif()
      list(APPEND locks rt_shared_display)
      set_tests_properties(${test} PROPERTIES RESOURCE_LOCK "${locks}")
    endif()
    if(A_ENV)
      set_tests_properties(${test} PROPERTIES ENVIRONMENT "${A_ENV}")
    endif()
    # Interop tests start daemons, simulators and peers with start-up deadlines; run them alone so the
    # rest of a parallel run cannot starve them.
    if(A_RUN_SERIAL OR A_LABEL STREQUAL "interop")
      set_tests_properties(${test} PROPERTIES RUN_SERIAL TRUE)
    endif()
  endforeach()
endfunction()

function(rt_add_fuzzer name)
  cmake_parse_arguments(A "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT RT_FUZZ)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set(work ${CMAKE_BINARY_DIR}/fuzz/${name}.corpus)
  file(MAKE_DIRECTORY ${work})
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=${RT_FUZZ_SECONDS} -timeout=60 -rss_limit_mb=2048
                   ${work} ${CMAKE_CURRENT_SOURCE_DIR}/${A_CORPUS})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()
