# Compresses as Debian's tools do (best compression, no name or time in the header, so the same
# text gives the same bytes). Used when configuring and when installing.
function(orrery_gzip source target)
  execute_process(COMMAND gzip -9 -n -c ${source} OUTPUT_FILE ${target} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${source} failed")
  endif()
endfunction()
