# cmake -DBUILD=<build dir> -DNAME=OrvikUpdater-<version> -DVERSION=<version> -DMAKENSIS=<makensis>
#       -DNSI=<installer.nsi> -DICON=<.ico> -P release.cmake
# Installs the build into BUILD/OrvikUpdater, zips that folder and builds the installer.
set(folder ${BUILD}/OrvikUpdater)
file(REMOVE_RECURSE ${folder})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${folder} --strip
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

file(REMOVE ${BUILD}/${NAME}-win64.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${NAME}-win64.zip --format=zip OrvikUpdater
    WORKING_DIRECTORY ${BUILD} COMMAND_ERROR_IS_FATAL ANY)

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
execute_process(COMMAND ${MAKENSIS} -V2 -DVERSION=${VERSION} -DRELEASE=${folder}
    -DLISTS=${lists} -DICON=${ICON} -DSIZE_KB=${kilobytes}
    -DOUTFILE=${BUILD}/${NAME}-setup.exe ${NSI} COMMAND_ERROR_IS_FATAL ANY)
