# dfu-util 0.11 for Windows, built from the given source with MinGW and linked statically.
# orvik_add_dfu_util(NAME USB_CFLAGS flags USB_LIBS libs [DEPENDS targets...])
# makes the target NAME; its program is ${NAME}_EXE. USB_LIBS is what it links in place of
# pkg-config's libusb: libusb itself, or the emulated bootloader of the tests. The program is
# linked again at every build, since its makefile does not know USB_LIBS as an input.
include(ExternalProject)
# Built the same from any checkout: no build path in the programs (__FILE__ in the asserts of
# libusb), no link time in the PE header.
set(ORVIK_WINDOWS_CFLAGS "-g -O2 -ffile-prefix-map=${CMAKE_BINARY_DIR}=." CACHE INTERNAL "")
set(ORVIK_WINDOWS_SOURCES "${PROJECT_SOURCE_DIR}/../shared/windows/src" CACHE PATH
    "Folder of the sources the Windows build is given (dfu-util, libusb) with their SHA256SUMS")

# The checksum of a file in that folder, as SHA256SUMS records it.
function(orvik_windows_source file out_url out_hash)
    file(STRINGS "${ORVIK_WINDOWS_SOURCES}/SHA256SUMS" lines REGEX "  ${file}$")
    if(NOT lines)
        message(FATAL_ERROR "${file} is not listed in ${ORVIK_WINDOWS_SOURCES}/SHA256SUMS")
    endif()
    string(REGEX MATCH "^[0-9a-f]+" hash "${lines}")
    set(${out_url} "${ORVIK_WINDOWS_SOURCES}/${file}" PARENT_SCOPE)
    set(${out_hash} "SHA256=${hash}" PARENT_SCOPE)
endfunction()

function(orvik_add_dfu_util name)
    cmake_parse_arguments(ARG "" "USB_CFLAGS;USB_LIBS" "DEPENDS" ${ARGN})
    orvik_windows_source(dfu-util_0.11.orig.tar.gz url hash)
    ExternalProject_Add(${name}
        URL ${url} URL_HASH ${hash}
        DEPENDS ${ARG_DEPENDS}
        CONFIGURE_COMMAND <SOURCE_DIR>/configure --host=${ORVIK_MINGW} --quiet
            CC=${ORVIK_MINGW}-gcc-posix "USB_CFLAGS=${ARG_USB_CFLAGS}" "USB_LIBS=${ARG_USB_LIBS}"
            "CFLAGS=${ORVIK_WINDOWS_CFLAGS}" "LDFLAGS=-static -Wl,--no-insert-timestamp"
        BUILD_COMMAND rm -f src/dfu-util.exe COMMAND $(MAKE) -C src dfu-util.exe
            # strip writes a time into the PE header: the commit's.
            COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${ORVIK_SOURCE_DATE_EPOCH}
                ${CMAKE_STRIP} src/dfu-util.exe
        BUILD_ALWAYS ON
        INSTALL_COMMAND ""
        BUILD_BYPRODUCTS <BINARY_DIR>/src/dfu-util.exe)
    ExternalProject_Get_Property(${name} BINARY_DIR)
    set(${name}_EXE ${BINARY_DIR}/src/dfu-util.exe PARENT_SCOPE)
endfunction()
