# Fails when PROGRAM loads a Qt library beyond Core and D-Bus (the keyring, through QtKeychain), or no libcurl (ldd lists what the loader would map).
execute_process(COMMAND ldd ${PROGRAM} OUTPUT_VARIABLE libraries RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT libraries MATCHES "libcurl")
    message(FATAL_ERROR "ldd ${PROGRAM} failed or lists no libcurl:\n${libraries}")
endif()
if(libraries MATCHES "libQt6(Network|Gui|Widgets|Sql|OpenGL|XcbQpa)")
    message(FATAL_ERROR "${PROGRAM} loads ${CMAKE_MATCH_0}:\n${libraries}")
endif()
message(STATUS "${PROGRAM}: Qt Core, D-Bus and libcurl only")
