; The Orvik Updater's installer, built with makensis from the release folder:
;   makensis -DVERSION=1.0.0 -DRELEASE=<folder> -DLISTS=<folder of the file lists>
;            -DICON=<.ico> -DSIZE_KB=<installed size> -DOUTFILE=<setup.exe> installer.nsi
;            -DFINISH_UNINSTALLER=<command, %1 the uninstaller>
; The file lists name every file of the release, so that the uninstaller removes exactly
; what was installed. /S installs or uninstalls silently, the driver for the Orvik's bootloader
; included unless /NODRIVER is given too.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
; The uninstaller is readied for signing, and signed when a certificate is given, before it is
; packed into the installer.
!uninstfinalize '${FINISH_UNINSTALLER}' = 0

!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"

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
!insertmacro MUI_PAGE_COMPONENTS
; The driver package's own licence, shown only when the driver is to be installed.
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipDriverLicence
!define MUI_PAGE_HEADER_TEXT "Licence of the driver for the Orvik's bootloader"
!define MUI_PAGE_HEADER_SUBTEXT "STMicroelectronics' driver package comes under its own licence."
!insertmacro MUI_PAGE_LICENSE "${RELEASE}\driver\SLA0048.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Orvik Updater" SecUpdater
    SectionIn RO
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

; The bootloader carries no descriptors that make Windows bind a driver dfu-util can open. The
; helper says in one line what it did, which goes into the details.
Section "Driver for the Orvik's bootloader (WinUSB, by STMicroelectronics)" SecDriver
    DetailPrint "Setting up the driver for the Orvik's bootloader (USB 0483:DF11):"
    nsExec::ExecToLog '"$INSTDIR\orvik-driver.exe" install'
    Pop $0
    ${If} $0 == "error"
        DetailPrint "orvik-driver.exe could not be started: the driver was not set up."
    ${ElseIf} $0 < 10
        DetailPrint "The driver is set up."
    ${Else}
        DetailPrint "The driver was not set up (orvik-driver.exe ended with $0). The updater offers it again when it meets the bootloader."
    ${EndIf}
SectionEnd

Function .onInit
    SetRegView 64
    SetShellVarContext all
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/NODRIVER" $R1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecDriver}
    ${EndIf}
FunctionEnd

Function SkipDriverLicence
    ${IfNot} ${SectionIsSelected} ${SecDriver}
        Abort
    ${EndIf}
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "Uninstall"
    ; While the helper is still there: it removes the driver package only if it added it,
    ; as the maker's own tools may have installed the same package for their users.
    nsExec::ExecToLog '"$INSTDIR\orvik-driver.exe" remove'
    Pop $0
    Delete "$SMPROGRAMS\${NAME}.lnk"
    !include "${LISTS}\uninstall-files.nsh"
    Delete "$INSTDIR\uninstall.exe"
    ; Only if empty: anything the user put there stays.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
