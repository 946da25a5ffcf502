# The program as a service under the real service control manager, and its desktop behaviour
# (boxes, tray icon) as real windows. Included by this folder's CMakeLists.txt.
if(NOT TARGET hushvane)
  return()
endif()

# hv_e2e_program_beside(<test target> <folder> [NO_DRIVER]): after the target is built, the
# program, the test driver image (unless NO_DRIVER) and the helper process are copied into the
# folder that doubles as the program's.
function(hv_e2e_program_beside target dir)
  cmake_parse_arguments(P "NO_DRIVER" "" "" ${ARGN})
  add_dependencies(${target} hushvane hushvane_driver_test hv_e2e_child)
  set(driver_copy COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:hushvane_driver_test> ${dir}/Hushvane.${HV_ARCH}.sys)
  if(P_NO_DRIVER)
    set(driver_copy "")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:hushvane> ${dir}/hushvane.exe
    ${driver_copy}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:hv_e2e_child> ${dir}/hv_e2e_child.exe
    VERBATIM)
endfunction()

# The tests' folder doubles as the program folder: hushvane.exe, the test driver image, the
# helper process, the config and the Log folder.
set(hv_service_e2e_dir ${CMAKE_CURRENT_BINARY_DIR}/service)

hv_test(service_e2e_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/WorkerSupport_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/EveryoneWrite_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/InstallSafety_Test_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ProgramFolder_Test_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ServicePending_Test_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ServiceSupport_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/Service_Test_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/CheckConfig_Test_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/Reload_Test_Windows.cpp
  LIBS hushvane_core hushvane_test_driver_support
  SERIAL TIMEOUT 300 LABELS wine)
set_target_properties(service_e2e_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${hv_service_e2e_dir})
# A service whose worker takes seconds to stop, for the pending states.
add_executable(hv_held_service ${CMAKE_CURRENT_SOURCE_DIR}/HeldService_Windows.cpp)
target_link_libraries(hv_held_service PRIVATE hushvane_core)
target_include_directories(hv_held_service PRIVATE ${CMAKE_SOURCE_DIR})
hv_warnings(hv_held_service)
set_target_properties(hv_held_service PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${hv_service_e2e_dir})
hv_e2e_program_beside(service_e2e_tests ${hv_service_e2e_dir})
add_dependencies(service_e2e_tests hv_held_service)

# The service with no driver image beside it, watching launches itself. The test image is copied
# in by the test that brings the driver back.
set(hv_watcher_e2e_dir ${CMAKE_CURRENT_BINARY_DIR}/watcher)
hv_test(watcher_e2e_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/WorkerSupport_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ServiceSupport_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/Watcher_Test_Windows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/Events_Test_Windows.cpp
  LIBS hushvane_core hushvane_test_driver_support
  SERIAL TIMEOUT 300 LABELS wine)
set_target_properties(watcher_e2e_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${hv_watcher_e2e_dir})
target_compile_definitions(watcher_e2e_tests PRIVATE HV_TEST_DRIVER_IMAGE="$<TARGET_FILE:hushvane_driver_test>")
hv_e2e_program_beside(watcher_e2e_tests ${hv_watcher_e2e_dir} NO_DRIVER)

# Wine stores no event; it writes each event's strings to its eventlog channel. In a prefix of
# its own, whose service processes have that channel on, the service's warning can be read.
add_test(NAME e2e.event_log_channel
  COMMAND ${CMAKE_COMMAND} -E env HV_OWN_PREFIX_WINEDEBUG=warn+eventlog
    ${CMAKE_CURRENT_SOURCE_DIR}/own-prefix.sh ${CMAKE_SOURCE_DIR}/scripts ${CMAKE_BINARY_DIR}/wineprefix-events ${HV_ARCH}
    $<TARGET_FILE:watcher_e2e_tests> --gtest_filter=EventLogE2E.TheServiceWithoutItsDriverWarnsInTheApplicationLog)
set_tests_properties(e2e.event_log_channel PROPERTIES TIMEOUT 300 LABELS wine RUN_SERIAL TRUE
  PASS_REGULAR_EXPRESSION "PASSED  \\] 1 test" FAIL_REGULAR_EXPRESSION "FAILED|SKIPPED")

# Desktop cases run as shell scripts driving X with xdotool; without a display they report
# themselves skipped.
if(HV_ARCH STREQUAL "x64")
  foreach(case HelpBox CommandBoxes UnsafeInstallBox CheckConfigBox TrayDoubleClick TrayMenu)
    add_test(NAME e2e.Desktop.${case}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/Desktop_Test.sh ${case} $<TARGET_FILE:hushvane> ${HV_WINE_PREFIX})
    set_tests_properties(e2e.Desktop.${case} PROPERTIES
      RUN_SERIAL TRUE TIMEOUT 300 SKIP_RETURN_CODE 77 LABELS "wine;desktop")
  endforeach()
endif()
