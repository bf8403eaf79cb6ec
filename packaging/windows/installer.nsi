; The Orvik Updater's installer, built with makensis from the release folder:
;   makensis -DVERSION=1.0.0 -DRELEASE=<folder> -DLISTS=<folder of the file lists>
;            -DICON=<.ico> -DSIZE_KB=<installed size> -DOUTFILE=<setup.exe> installer.nsi
;            -DFINISH_UNINSTALLER=<command, %1 the uninstaller>
; The file lists name every file of the release, so that the uninstaller removes exactly
; what was installed. /S installs or uninstalls silently.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
; The uninstaller is readied for signing, and signed when a certificate is given, before it is
; packed into the installer.
!uninstfinalize '${FINISH_UNINSTALLER}' = 0

!include "MUI2.nsh"
!include "x64.nsh"

!define NAME "Orvik Updater"
!define PUBLISHER "Kestrane Audio"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvikUpdater"

Name "${NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${NAME}"
RequestExecutionLevel admin
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${NAME} setup"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_LICENSE "${RELEASE}\licenses\README.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "Install"
    !include "${LISTS}\install-files.nsh"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; The updater finds its flashing tool relative to the folder it is started in.
    SetOutPath "$INSTDIR"
    CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\orvik-updater.exe" "" \
        "$INSTDIR\orvik-updater.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orvik-updater.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\${NAME}.lnk"
    !include "${LISTS}\uninstall-files.nsh"
    Delete "$INSTDIR\uninstall.exe"
    ; Only if empty: anything the user put there stays.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
