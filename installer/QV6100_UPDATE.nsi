; Installer of QV-6100 Update: the program and its help file in Program Files,
; a Start-menu shortcut, an uninstaller and its entry in the list of programs.
;
; Built by cmake/Distribution.cmake (scripts/package.sh), which passes:
;   -DVERSION=... -DVIVERSION=... -DEXE=... -DCHM=... -DICON=... -DOUTFILE=...
; (the version from project() in CMakeLists.txt, e.g. 1.09 and 1.9.0.0),
; -DPLACEHOLDER for a build with placeholder payloads, and for signed packages
; -DSIGN=... (installer/sign.sh with its certificate) -DSIGNED=... (a folder).

!ifndef VERSION | VIVERSION | EXE | CHM | ICON | OUTFILE
  !error "Build with cmake (scripts/package.sh): VERSION, VIVERSION, EXE, CHM, ICON and OUTFILE must be defined"
!endif

; The program is 64-bit, and so is this installer: a 32-bit stub would also
; see the 32-bit views of Program Files and the registry.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel admin
; The packed files get no build times: the same files give the same installer.
SetDateSave off

!define PRODUCT "QV-6100 Update"
!define PUBLISHER "Corvane"

; Signed packages: the uninstaller is signed before it is packed (which makes
; makensis pack it whole, instead of having the installer write it from its
; own stub), the installer once written. What each was before signing stays
; in ${SIGNED}/unsigned/.
!ifdef SIGN
  !uninstfinalize `${SIGN} --keep "${SIGNED}/Uninstall.exe" "${PRODUCT} Uninstall" "%1"` = 0
  !finalize `${SIGN} --keep "${SIGNED}/setup.exe" "${PRODUCT} ${VERSION} Setup" "%1"` = 0
!endif
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The program records a successful identification of the unit here. It opens
; the key but never creates it, so the installer does.
!define PRODUCT_KEY "SOFTWARE\CORVANE\${PRODUCT}"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VIVERSION}"
VIFileVersion "${VIVERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PUBLISHER} ${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
!ifdef PLACEHOLDER
  VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} Setup (placeholder build: no real firmware)"
!else
  VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} Setup"
!endif
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\QV6100_UPDATE.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\QV6100_UPDATE.chm"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the help"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!ifdef PLACEHOLDER
  !define MUI_WELCOMEPAGE_TEXT "PLACEHOLDER BUILD: this package contains no real firmware. Do not use it on a QV-6100.$\r$\n$\r$\n$(MUI_TEXT_WELCOME_INFO_TEXT)"
!endif

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Section "QV-6100 Update"
  SetOutPath "$INSTDIR"
  File "/oname=QV6100_UPDATE.exe" "${EXE}"
  File "/oname=QV6100_UPDATE.chm" "${CHM}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortcut "${SHORTCUT}" "$INSTDIR\QV6100_UPDATE.exe" "" "$INSTDIR\QV6100_UPDATE.exe" 0 \
    SW_SHOWNORMAL "" "Rewrites the firmware of a Corvane QV-6100"

  ; Creates the key without touching a record that an earlier installation
  ; left (the default value is not read by the program).
  WriteRegStr HKLM "${PRODUCT_KEY}" "" ""

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\QV6100_UPDATE.exe,0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\QV6100_UPDATE.exe"
  Delete "$INSTDIR\QV6100_UPDATE.chm"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only if empty: files the user put there stay.
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINST_KEY}"
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\CORVANE"
SectionEnd
