# hv_split_debug_info(<target>): after every link, moves the executable's DWARF debug information
# into <file>.debug beside it and leaves the executable stripped, with a debug link (file name and
# CRC) that debuggers and the debug-help library follow to find the symbols. The stripped file in
# the build tree is the one that ships.
function(hv_split_debug_info target)
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "objcopy not found: cannot split the debug information of ${target}")
  endif()
  set(image $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${image} ${image}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all ${image}
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${image}.debug ${image}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Splitting the debug information of ${target}"
    VERBATIM)
endfunction()

# The debug information names sources relative to the source tree, not by the folder this build
# happened to run in: a shipped .debug file carries no path of the build machine.
if(WIN32)
  add_compile_options(-fdebug-prefix-map=${CMAKE_SOURCE_DIR}=.)
endif()
