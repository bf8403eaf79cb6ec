# cmake -DBUILD=<build dir> -DNAME=OrvikUpdater-<version> -DVERSION=<version> -DMAKENSIS=<makensis>
#       -DNSI=<installer.nsi> -DICON=<.ico> -DPYTHON=<python3> -DEPOCH=<SOURCE_DATE_EPOCH>
#       -DTOOL=<the tool's path in the folder> -DDRIVER=<the driver package's folder>
#       -DDRIVER_FILES=<its files> -P release.cmake
# Installs the build into BUILD/OrvikUpdater, zips that folder and builds the installer: the
# same bytes from any checkout of the same commit. With ORVIK_SIGN_PFX and
# ORVIK_SIGN_PASSWORD_FILE in the environment it signs the three programs, the uninstaller and
# the installer (sign.py).
# 3.19: each step fails the release when its command fails (COMMAND_ERROR_IS_FATAL).
cmake_minimum_required(VERSION 3.19)
set(here ${CMAKE_CURRENT_LIST_DIR})
# strip, makensis and the zip take their times from here, not from the clock.
set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})
set(sign ${PYTHON} ${here}/sign.py)
if(DEFINED ENV{ORVIK_SIGN_PFX})
    message(STATUS "Signing with $ENV{ORVIK_SIGN_PFX}")
else()
    message(STATUS "Unsigned: no certificate given (ORVIK_SIGN_PFX and ORVIK_SIGN_PASSWORD_FILE)")
endif()

# The driver package ships as its maker signed it, or not at all.
foreach(file IN LISTS DRIVER_FILES)
    file(STRINGS ${DRIVER}/SHA256SUMS listed REGEX "  ${file}$")
    string(REGEX MATCH "^[0-9a-f]+" expected "${listed}")
    file(SHA256 ${DRIVER}/${file} actual)
    if(NOT expected OR NOT actual STREQUAL expected)
        message(FATAL_ERROR "${DRIVER}/${file} does not match its SHA256SUMS: not released")
    endif()
endforeach()

set(folder ${BUILD}/OrvikUpdater)
file(REMOVE_RECURSE ${folder})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${folder} --strip
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
foreach(program orvik-updater.exe orvik-driver.exe ${TOOL})
    execute_process(COMMAND ${sign} ${folder}/${program} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
# The installer keeps each file's time, and so does the zip.
execute_process(COMMAND find ${folder} -exec touch -h -d @${EPOCH} {} +
    COMMAND_ERROR_IS_FATAL ANY)

file(REMOVE ${BUILD}/${NAME}-win64.zip)
execute_process(COMMAND ${PYTHON} ${here}/make_zip.py ${folder} ${BUILD}/${NAME}-win64.zip
    COMMAND_ERROR_IS_FATAL ANY)

# Every file by name, for the installer to install and the uninstaller to remove again.
file(GLOB_RECURSE files RELATIVE ${folder} ${folder}/*)
list(SORT files)
set(install "")
set(uninstall "")
set(folders "")
set(bytes 0)
set(current "-")
foreach(file IN LISTS files)
    get_filename_component(dir ${file} DIRECTORY)
    string(REPLACE "/" "\\" windows_dir "${dir}")
    string(REPLACE "/" "\\" windows_file "${file}")
    if(NOT dir STREQUAL current)
        string(APPEND install "SetOutPath \"$INSTDIR\\${windows_dir}\"\n")
        set(current ${dir})
    endif()
    string(APPEND install "File \"${folder}/${file}\"\n")
    string(APPEND uninstall "Delete \"$INSTDIR\\${windows_file}\"\n")
    while(dir)
        list(APPEND folders ${dir})
        get_filename_component(dir ${dir} DIRECTORY)
    endwhile()
    file(SIZE ${folder}/${file} size)
    math(EXPR bytes "${bytes} + ${size}")
endforeach()
# Deepest folders first, so that each is empty when it is removed.
list(REMOVE_DUPLICATES folders)
list(SORT folders)
list(REVERSE folders)
foreach(dir IN LISTS folders)
    string(REPLACE "/" "\\" windows_dir "${dir}")
    string(APPEND uninstall "RMDir \"$INSTDIR\\${windows_dir}\"\n")
endforeach()
set(lists ${BUILD}/installer)
file(WRITE ${lists}/install-files.nsh "${install}")
file(WRITE ${lists}/uninstall-files.nsh "${uninstall}")
math(EXPR kilobytes "(${bytes} + 1023) / 1024")

if(NOT MAKENSIS)
    message(FATAL_ERROR "makensis not found (Debian package nsis): no installer")
endif()
# The uninstaller is made inside makensis, which hands it to sign.py before packing it; a copy
# is kept in the file lists' folder for checking.
list(JOIN sign "\" \"" sign_command)
execute_process(COMMAND ${MAKENSIS} -V2 -DVERSION=${VERSION} -DRELEASE=${folder}
    -DLISTS=${lists} -DICON=${ICON} -DSIZE_KB=${kilobytes}
    "-DFINISH_UNINSTALLER=\"${sign_command}\" \"%1\" \"${lists}/uninstall.exe\""
    -DOUTFILE=${BUILD}/${NAME}-setup.exe ${NSI} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${sign} ${BUILD}/${NAME}-setup.exe COMMAND_ERROR_IS_FATAL ANY)
