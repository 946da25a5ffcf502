# The crash reporter and the watchdog end to end: hvcrash.exe meets exceptions on demand, the
# tests read the files it leaves beside itself. Included by this folder's CMakeLists.txt.
set(hv_crash_e2e_dir ${CMAKE_CURRENT_BINARY_DIR}/crash)

# Not stripped: the tests check the function names the crash log gives.
add_executable(hvcrash ${CMAKE_CURRENT_SOURCE_DIR}/crash/CrashProgram_Windows.cpp)
target_link_libraries(hvcrash PRIVATE hushvane_core)
target_include_directories(hvcrash PRIVATE ${CMAKE_SOURCE_DIR})
# Every recursion of the program must stay a real chain of frames.
target_compile_options(hvcrash PRIVATE -fno-optimize-sibling-calls -fno-inline-functions)
hv_warnings(hvcrash)
set_target_properties(hvcrash PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${hv_crash_e2e_dir})

# A planted "Dbghelp.dll" that leaves a mark when it is loaded: the tests put it beside a copy of
# hvcrash.exe, whose crash must take the system's library all the same.
add_library(hvcrash_planted_dbghelp SHARED ${CMAKE_CURRENT_SOURCE_DIR}/crash/PlantedDbghelp_Windows.cpp)
set_target_properties(hvcrash_planted_dbghelp PROPERTIES OUTPUT_NAME Dbghelp PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${hv_crash_e2e_dir}/planted ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/planted-lib)
target_link_options(hvcrash_planted_dbghelp PRIVATE -static-libgcc -static-libstdc++)
hv_warnings(hvcrash_planted_dbghelp)

hv_test(crash_e2e_tests
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/crash/Crash_Test_Windows.cpp
  SERIAL TIMEOUT 1500 LABELS wine)
set_target_properties(crash_e2e_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${hv_crash_e2e_dir})
add_dependencies(crash_e2e_tests hvcrash hvcrash_planted_dbghelp)

# The crash box and the watchdog's question as real windows under X.
if(HV_ARCH STREQUAL "x64")
  foreach(case CrashBox BreakpointYes BreakpointNo WatchdogRenew WatchdogYesNo)
    add_test(NAME e2e.CrashDesktop.${case}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/crash/Crash_Desktop_Test.sh ${case} $<TARGET_FILE:hvcrash> ${HV_WINE_PREFIX})
    set_tests_properties(e2e.CrashDesktop.${case} PROPERTIES
      RUN_SERIAL TRUE TIMEOUT 300 SKIP_RETURN_CODE 77 LABELS "wine;desktop")
  endforeach()
endif()
