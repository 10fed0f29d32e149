; The Windows installer of the updater, made by scripts/package.sh:
;
;   makensis -DVERSION=1.0.0 -DPROGRAM=QuilletLooperSwUpdater.exe -DICON=QuilletLooperSwUpdater.ico
;            -DLICENCE=LICENSE.txt -DNOTICES=THIRD-PARTY-NOTICES.txt -DOUTFILE=setup.exe installer.nsi
;
; A per-machine installation into Program Files\Zentrik\QuilletLooperSwUpdater,
; with a Start-menu shortcut for every user and an entry in the list of
; installed programs, whose uninstaller removes exactly what the installer put
; there. Writing to those places needs an administrator, so the installer asks
; for one; the program itself runs with the rights of whoever starts it (its
; own manifest says asInvoker), which is also why the installer offers no
; "run it now" that would start it elevated.
;
; /S installs silently into the default folder; the uninstaller takes /S too.

Unicode true
Target amd64-unicode
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma

!define MAKER "Zentrik"
!define PRODUCT "QuilletLooperSwUpdater"
!define DISPLAY_NAME "Quillet Q7 Firmware Updater"
!define EXE "${PRODUCT}.exe"
!define MAKER_DIR "$PROGRAMFILES64\${MAKER}"
!define SHORTCUT "$SMPROGRAMS\${DISPLAY_NAME}.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${DISPLAY_NAME}"
OutFile "${OUTFILE}"
InstallDir "${MAKER_DIR}\${PRODUCT}"
BrandingText "${DISPLAY_NAME} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${DISPLAY_NAME}"
VIAddVersionKey CompanyName "${MAKER}"
VIAddVersionKey FileDescription "${DISPLAY_NAME} Setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "${MAKER}, GPL-3.0-or-later"

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_LICENSE "${LICENCE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Section
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "/oname=${EXE}" "${PROGRAM}"
    File "/oname=LICENSE.txt" "${LICENCE}"
    File "/oname=THIRD-PARTY-NOTICES.txt" "${NOTICES}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortcut "${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "${DISPLAY_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "${MAKER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\${EXE},0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1

    ; In KiB, as the list of installed programs expects.
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
SectionEnd

Section Uninstall
    SetShellVarContext all

    ; A running program cannot be deleted: stop before anything is removed.
    ClearErrors
    Delete "$INSTDIR\${EXE}"
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "Close the ${DISPLAY_NAME}, then uninstall it again." /SD IDOK
        Abort
    ${EndIf}

    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ; The maker's folder goes only when nothing else of the maker is in it.
    RMDir "${MAKER_DIR}"

    Delete "${SHORTCUT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
