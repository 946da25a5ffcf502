# hv_platform_sources(<out-var> <dir>): every .cpp below <dir>, with the files of the other
# platform left out. A file ending in _Windows.cpp builds only for Windows, one ending in
# _Posix.cpp only for the native host build; everything else is platform-neutral.
function(hv_platform_sources out dir)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(HV_WINDOWS)
    list(FILTER files EXCLUDE REGEX "_Posix\\.cpp$")
  else()
    list(FILTER files EXCLUDE REGEX "_Windows\\.cpp$")
  endif()
  set(${out} ${files} PARENT_SCOPE)
endfunction()
