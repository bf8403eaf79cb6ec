# Read by cpack before it packs the Debian package (CPACK_PROJECT_CONFIG_FILE). Adds to Depends
# the libraries that the program links, as dpkg-shlibdeps finds them, with each library that a
# later release renamed for its 64-bit time (Debian 13, Ubuntu 24.04) accepted under either name
# at the same version: on amd64 the rename left the library's interface as it was.
#
# Given ORVIK_DEB_PROGRAM, the program, and ORVIK_RENAMED_LIBRARIES, a list of OLD=NEW names.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
# 3.19: a failing command fails the packing (COMMAND_ERROR_IS_FATAL).
cmake_minimum_required(VERSION 3.19)

execute_process(COMMAND mktemp -d OUTPUT_VARIABLE work OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
# dpkg-shlibdeps runs where a source package would keep its debian/control.
file(WRITE "${work}/debian/control" "")
execute_process(COMMAND dpkg-shlibdeps -O "${ORVIK_DEB_PROGRAM}" WORKING_DIRECTORY "${work}"
    OUTPUT_VARIABLE found ERROR_VARIABLE warnings RESULT_VARIABLE result
    OUTPUT_STRIP_TRAILING_WHITESPACE)
file(REMOVE_RECURSE "${work}")
if(NOT result EQUAL 0 OR NOT found MATCHES "^shlibs:Depends=(.+)$")
    message(FATAL_ERROR "dpkg-shlibdeps ${ORVIK_DEB_PROGRAM}: ${warnings}")
endif()

string(REPLACE "," ";" clauses "${CMAKE_MATCH_1}")
set(linked "")
foreach(clause IN LISTS clauses)
    string(REPLACE "|" ";" choices "${clause}")
    set(accepted "")
    foreach(choice IN LISTS choices)
        string(STRIP "${choice}" choice)
        list(APPEND accepted "${choice}")
        foreach(rename IN LISTS ORVIK_RENAMED_LIBRARIES)
            string(REPLACE "=" ";" rename "${rename}")
            list(GET rename 0 old)
            list(GET rename 1 new)
            if(choice MATCHES "^${old}( .*)?$")
                list(APPEND accepted "${new}${CMAKE_MATCH_1}")
            endif()
        endforeach()
    endforeach()
    list(JOIN accepted " | " accepted)
    list(APPEND linked "${accepted}")
endforeach()
list(JOIN linked ", " linked)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, ${linked}")
