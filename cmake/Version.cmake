# The project's version (project() in the top-level CMakeLists is the one place it is defined)
# as a header for the resource scripts: HV_VERSION_INCLUDE_DIR holds HushvaneVersion.h.
set(hv_minor_padded "${PROJECT_VERSION_MINOR}")
if(PROJECT_VERSION_MINOR LESS 10)
  set(hv_minor_padded "0${PROJECT_VERSION_MINOR}")
endif()
set(HV_DRIVER_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${hv_minor_padded}")
set(HV_VERSION_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/resources/HushvaneVersion.h.in
  ${HV_VERSION_INCLUDE_DIR}/HushvaneVersion.h @ONLY)
