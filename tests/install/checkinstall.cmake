# cmake -P script run by the install_tree test: installs BUILD_DIR into DESTDIR, compares the file list,
# validates the desktop entry, the AppStream metadata, the manual pages and the systemd unit where their
# checkers are installed, and asks each installed program for its version.
# check(<message> <condition>...): the condition as if() reads it, in the caller's scope.
macro(check message)
    if(NOT (${ARGN}))
        message(FATAL_ERROR "${message}")
    endif()
endmacro()

# Runs a command; fails the test unless it exits 0, and unless it is silent on standard error when asked.
function(run_checked out)
    cmake_parse_arguments(ARG "QUIET_ERRORS" "" "COMMAND" ${ARGN})
    execute_process(COMMAND ${ARG_COMMAND} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    string(REPLACE ";" " " shown "${ARG_COMMAND}")
    check("'${shown}' exited with ${status}:\n${output}${errors}" status EQUAL 0)
    if(ARG_QUIET_ERRORS)
        check("'${shown}' warned:\n${errors}" errors MATCHES "^$")
    endif()
    set(${out} "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${DESTDIR}")
set(ENV{DESTDIR} "${DESTDIR}")
run_checked(ignored COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR})
set(root "${DESTDIR}${PREFIX}")

set(expected
    bin/vennacott-ddns bin/vennacott-refsvc
    share/applications/vennacott-ddns.desktop share/metainfo/vennacott-ddns.metainfo.xml
    share/icons/hicolor/scalable/apps/vennacott-ddns.svg
    share/man/man1/vennacott-ddns.1.gz share/man/man1/vennacott-refsvc.1.gz
    share/doc/vennacott-ddns/copyright share/doc/vennacott-ddns/changelog.gz
    share/doc/vennacott-refsvc/copyright share/doc/vennacott-refsvc/changelog.gz)
foreach(size 16 24 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/vennacott-ddns.png)
endforeach()
set(programs vennacott-ddns vennacott-refsvc)
if(WITH_CTL)
    file(RELATIVE_PATH unit "${PREFIX}" "${UNIT_DIR}/vennacott-ddns.service")
    list(APPEND expected bin/vennacott-ddnsctl share/man/man1/vennacott-ddnsctl.1.gz ${unit})
    list(APPEND programs vennacott-ddnsctl)
endif()
list(TRANSFORM expected PREPEND "${root}/")
file(GLOB_RECURSE installed LIST_DIRECTORIES false "${DESTDIR}/*")
list(SORT expected)
list(SORT installed)
check("installed files differ from the expected list:\n${installed}" installed STREQUAL expected)

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
    run_checked(output COMMAND ${DESKTOP_FILE_VALIDATE} ${root}/share/applications/vennacott-ddns.desktop)
    check("desktop-file-validate:\n${output}" output MATCHES "^$")
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
    run_checked(ignored COMMAND ${APPSTREAMCLI} validate --no-net ${root}/share/metainfo/vennacott-ddns.metainfo.xml)
endif()
# The software centre shows the newest release first: it must be this version.
file(READ ${root}/share/metainfo/vennacott-ddns.metainfo.xml metainfo)
string(REGEX MATCH "<release version=\"([^\"]*)\"" ignored "${metainfo}")
check("the metadata's newest release is '${CMAKE_MATCH_1}', not ${VERSION}" CMAKE_MATCH_1 STREQUAL VERSION)

# The pages as man shows them: no troff warning, and every build setting filled in.
find_program(MAN man)
if(MAN)
    set(ENV{LC_ALL} C.UTF-8)
    file(GLOB pages ${root}/share/man/man1/*.1.gz)
    foreach(page ${pages})
        run_checked(text QUIET_ERRORS COMMAND ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${page})
        run_checked(text COMMAND ${MAN} -l ${page})
        check("${page} has a setting left unfilled" NOT text MATCHES "@[A-Z_]+@")
    endforeach()
endif()

if(WITH_CTL)
    file(STRINGS ${DESTDIR}${UNIT_DIR}/vennacott-ddns.service exec REGEX "^ExecStart=")
    check("the unit starts '${exec}'" exec STREQUAL "ExecStart=${PREFIX}/bin/vennacott-ddnsctl run")
    find_program(SYSTEMD_ANALYZE systemd-analyze)
    if(SYSTEMD_ANALYZE)
        # systemd-analyze checks that the program exists: point the unit at the installed copy.
        file(READ ${DESTDIR}${UNIT_DIR}/vennacott-ddns.service text)
        string(REPLACE "ExecStart=${PREFIX}/" "ExecStart=${root}/" text "${text}")
        file(WRITE ${DESTDIR}/verify/vennacott-ddns.service "${text}")
        set(ENV{XDG_RUNTIME_DIR} ${DESTDIR}/verify)
        run_checked(ignored QUIET_ERRORS
                    COMMAND ${SYSTEMD_ANALYZE} --user --man=no verify ${DESTDIR}/verify/vennacott-ddns.service)
    endif()
endif()

# A client that trusts an extra CA says so on a second line; one that does not, nothing more.
foreach(program ${programs})
    set(ca_line "")
    if(EXTRA_CA AND NOT program STREQUAL "vennacott-refsvc")
        set(ca_line "Trusts an extra CA compiled in: [^\n]+, SHA-256 [0-9A-F:]+\n")
    endif()
    run_checked(output COMMAND ${root}/bin/${program} --version)
    check("${program} --version printed '${output}'" output MATCHES "^${program} ${VERSION}\n${ca_line}$")
endforeach()
message(STATUS "installed and checked: ${programs}")
