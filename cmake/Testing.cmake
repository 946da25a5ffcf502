# GoogleTest built from the Debian sources with the current toolchain, and helpers to declare
# test executables, fuzz targets and benchmarks.
set(HV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")

macro(hv_enable_gtest)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${HV_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
  endif()
  # In every calling scope: gtest_discover_tests needs the script path this include sets, and
  # hv_test is a function, so a variable set in an earlier call is gone.
  include(GoogleTest)
endmacro()

# hv_test(<name> SOURCES ... LIBS ... [LABELS ...] [SERIAL] [TIMEOUT s])
# One GoogleTest executable; every test case becomes one CTest test (discovered when CTest
# runs, through the Wine wrapper for Windows builds).
function(hv_test name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  hv_enable_gtest()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  hv_warnings(${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES ${props} ${T_PROPERTIES})
endfunction()

# hv_bench(<name> SOURCES ... LIBS ...): a benchmark executable; never a test.
function(hv_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  hv_warnings(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# hv_fuzz(<name> SOURCES ... LIBS ... [SECONDS n] [SEEDS dir...]): a libFuzzer target (host
# build with clang); CTest runs it briefly; scripts/fuzz runs every target longer on demand.
# A target keeps what it finds in build/host/fuzz/<name>.corpus and starts from that and from
# the SEEDS folders (listed in <name>.seeds for scripts/fuzz).
function(hv_fuzz name)
  cmake_parse_arguments(F "" "SECONDS" "SOURCES;LIBS;SEEDS" ${ARGN})
  if(NOT HV_FUZZ)
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 15)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set(corpus)
  if(F_SEEDS)
    set(corpus ${CMAKE_BINARY_DIR}/fuzz/${name}.corpus)
    file(MAKE_DIRECTORY ${corpus} ${F_SEEDS})
    string(REPLACE ";" " " seeds "${F_SEEDS}")
    file(WRITE ${CMAKE_BINARY_DIR}/fuzz/${name}.seeds "${seeds}\n")
  endif()
  add_test(NAME fuzz.${name}
    COMMAND ${name} -max_total_time=${F_SECONDS} -print_final_stats=0 -close_fd_mask=3 ${corpus} ${F_SEEDS})
  set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
endfunction()
