# The program as a service under the real service control manager, and its desktop behaviour
# (boxes, tray icon) as real windows. Included by this folder's CMakeLists.txt.
if(NOT TARGET hushvane)
  return()
endif()

# hv_e2e_program_beside(<test target> <folder>): after the target is built, the program, the test
# driver image and the helper process are copied into the folder that doubles as the program's.
function(hv_e2e_program_beside target dir)
  add_dependencies(${target} hushvane hushvane_driver_test hv_e2e_child)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:hushvane> ${dir}/hushvane.exe
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:hushvane_driver_test> ${dir}/Hushvane.${HV_ARCH}.sys
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
