# Warnings for our own targets. The dev preset turns them into errors through
# CMAKE_COMPILE_WARNING_AS_ERROR.
function(kelvoran_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()
