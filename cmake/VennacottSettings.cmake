# Build-time settings of the client: the two service origins, the zone suffix shown after a host name,
# and an optional extra CA bundle compiled in. Every value is checked here so a typo fails the configure
# step instead of producing a client that cannot reach its service.

set(VENNACOTT_API_URL "https://api.vennacott.example" CACHE STRING "Backend API origin (https://host[:port])")
set(VENNACOTT_UPDATE_URL "https://update.vennacott.example" CACHE STRING "DDNS update server origin (https://host[:port])")
set(VENNACOTT_ZONE_SUFFIX ".ddns.vennacott.example" CACHE STRING "Zone suffix shown after the host name, starts with '.'")
set(VENNACOTT_EXTRA_CA_FILE "" CACHE FILEPATH "Optional PEM file of extra trusted CAs (empty for release builds)")
option(VENNACOTT_PACKAGE_BUILD "This build makes the Debian packages (the package preset, scripts/package)" OFF)
option(VENNACOTT_DEVELOPMENT_PACKAGE "The packages are for development: they may trust VENNACOTT_EXTRA_CA_FILE" OFF)

function(vennacott_check_origin name)
    set(value "${${name}}")
    # Scheme and host (a DNS name or a bracketed IPv6 literal), an optional port, nothing after it.
    set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
    set(host "(${label}(\\.${label})*|\\[[0-9A-Fa-f:.]+\\])")
    if(NOT value MATCHES "^https://${host}(:([0-9]+))?$")
        message(FATAL_ERROR "${name} must be an https origin: scheme and host, an optional port, no path and no "
                            "trailing slash (for example https://api.example.org or https://127.0.0.1:8443); "
                            "got '${value}'")
    endif()
    if(value MATCHES ":([0-9]+)$")
        if(CMAKE_MATCH_1 LESS 1 OR CMAKE_MATCH_1 GREATER 65535)
            message(FATAL_ERROR "${name}: port ${CMAKE_MATCH_1} is out of range 1-65535 (got '${value}')")
        endif()
    endif()
endfunction()

vennacott_check_origin(VENNACOTT_API_URL)
vennacott_check_origin(VENNACOTT_UPDATE_URL)

if(NOT VENNACOTT_ZONE_SUFFIX MATCHES "^(\\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)+$")
    message(FATAL_ERROR "VENNACOTT_ZONE_SUFFIX must start with '.' and consist of DNS labels "
                        "(for example .ddns.example.org); got '${VENNACOTT_ZONE_SUFFIX}'")
endif()

set(VENNACOTT_EXTRA_CA_PEM "")
if(NOT VENNACOTT_EXTRA_CA_FILE STREQUAL "")
    if(NOT EXISTS "${VENNACOTT_EXTRA_CA_FILE}" OR IS_DIRECTORY "${VENNACOTT_EXTRA_CA_FILE}")
        message(FATAL_ERROR "VENNACOTT_EXTRA_CA_FILE: no such file '${VENNACOTT_EXTRA_CA_FILE}'")
    endif()
    file(READ "${VENNACOTT_EXTRA_CA_FILE}" VENNACOTT_EXTRA_CA_PEM)
    if(NOT VENNACOTT_EXTRA_CA_PEM MATCHES "-----BEGIN CERTIFICATE-----")
        message(FATAL_ERROR "VENNACOTT_EXTRA_CA_FILE: '${VENNACOTT_EXTRA_CA_FILE}' holds no PEM certificate")
    endif()
    if(VENNACOTT_EXTRA_CA_PEM MATCHES "\\)vennacott_pem\"")
        message(FATAL_ERROR "VENNACOTT_EXTRA_CA_FILE: unexpected content in '${VENNACOTT_EXTRA_CA_FILE}'")
    endif()
    # A package goes to users' machines, where a test CA would let whoever holds its key pose as the service.
    if(VENNACOTT_PACKAGE_BUILD AND NOT VENNACOTT_DEVELOPMENT_PACKAGE)
        message(FATAL_ERROR "VENNACOTT_EXTRA_CA_FILE is set for a release package: the packages would trust "
                            "'${VENNACOTT_EXTRA_CA_FILE}' besides the system's CAs. Leave it empty, or say that "
                            "these are development packages with -DVENNACOTT_DEVELOPMENT_PACKAGE=ON")
    endif()
    # Rebuild when the bundle changes.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${VENNACOTT_EXTRA_CA_FILE}")
endif()

message(STATUS "Vennacott API:    ${VENNACOTT_API_URL}")
message(STATUS "Vennacott update: ${VENNACOTT_UPDATE_URL}")
message(STATUS "Vennacott zone:   ${VENNACOTT_ZONE_SUFFIX}")
if(VENNACOTT_EXTRA_CA_FILE)
    message(STATUS "Vennacott extra CA: ${VENNACOTT_EXTRA_CA_FILE}")
endif()
