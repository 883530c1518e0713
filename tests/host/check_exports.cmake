# Lists the dynamic symbols that the shared library defines and fails unless they are exactly
# DoStartupAnimation and DoShutdownAnimation. Run as: cmake -DLIBRARY=<path> -DNM=<nm> -P <this>
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(names)
foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^ ]+)$")
        list(APPEND names ${CMAKE_MATCH_2})
    endif()
endforeach()
list(SORT names)
if(NOT names STREQUAL "DoShutdownAnimation;DoStartupAnimation")
    message(FATAL_ERROR "exported symbols: ${names}")
endif()
message(STATUS "exports: ${names}")
