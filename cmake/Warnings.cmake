# Warning set for all our own targets: hv_warnings(<target>).
function(hv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(HV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
