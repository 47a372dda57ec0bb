# The run-time name of a library that pkg_check_modules found under PREFIX, for code
# that opens the library when it first needs it instead of linking it.
function(quorvel_soname var prefix)
  list(GET ${prefix}_LINK_LIBRARIES 0 library)
  execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${library} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
  string(REGEX MATCH "SONAME +([^\n ]+)" found "${dynamic}")
  if(failed OR NOT found)
    message(FATAL_ERROR "no run-time name (SONAME) in ${library}")
  endif()
  set(${var} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()
