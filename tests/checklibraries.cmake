# Fails when PROGRAM loads a Qt library beyond Core and Network (ldd lists what the loader would map).
execute_process(COMMAND ldd ${PROGRAM} OUTPUT_VARIABLE libraries RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT libraries MATCHES "libQt6Network")
    message(FATAL_ERROR "ldd ${PROGRAM} failed or lists no Qt Network:\n${libraries}")
endif()
if(libraries MATCHES "libQt6(Gui|Widgets|DBus|Sql|OpenGL|XcbQpa)")
    message(FATAL_ERROR "${PROGRAM} loads ${CMAKE_MATCH_0}:\n${libraries}")
endif()
message(STATUS "${PROGRAM}: Qt Core and Network only")
