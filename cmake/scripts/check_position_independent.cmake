# cmake -P: fails when an object file of the sample kernel holds an absolute address.
# In: READELF, CHECK_POSITION_INDEPENDENT (an object file). An absolute relocation
# in the kernel's C would be an address that breaks once the kernel is folded.
execute_process(COMMAND "${READELF}" -r "${CHECK_POSITION_INDEPENDENT}" OUTPUT_VARIABLE relocations
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${READELF} failed on ${CHECK_POSITION_INDEPENDENT}")
endif()
string(REGEX MATCHALL "[^\n]*R_ARM_ABS32[^\n]*" absolute "${relocations}")
if(absolute)
  string(REPLACE ";" "\n" absolute "${absolute}")
  message(FATAL_ERROR "absolute addresses in ${CHECK_POSITION_INDEPENDENT}:\n${absolute}")
endif()
