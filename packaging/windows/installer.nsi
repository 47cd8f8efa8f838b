; The Windows installer: the program into Program Files, a Start-menu entry, and an
; uninstaller that Windows' list of installed apps knows. scripts/windows.sh builds it:
;   makensis -DVERSION=0.1 -DSTAGE=DIR -DICON=FILE.ico -DOUTFILE=FILE.exe installer.nsi
; STAGE holds what the zip holds: sensor-companion.exe, README.txt, LICENSE.txt and
; LICENSES/.
Unicode true
; A 64-bit installer for a 64-bit program: $PROGRAMFILES64 and the 64-bit registry.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define TITLE "传感器调试助手"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\sensor-companion"

Name "${TITLE} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\sensor-companion"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "sensor-companion ${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!include MUI2.nsh
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the one used when Windows speaks neither.
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

Section
  SetShellVarContext all
  SetOutPath "$INSTDIR\LICENSES"
  File "${STAGE}/LICENSES/*"
  SetOutPath "$INSTDIR"
  File "${STAGE}/sensor-companion.exe"
  File "${STAGE}/README.txt"
  File "${STAGE}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${TITLE}.lnk" "$INSTDIR\sensor-companion.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\sensor-companion.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer put there. The users' own settings stay in their
; %LOCALAPPDATA%\sensor-companion, and a comm.set an administrator put beside the program
; stays with its folder.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${TITLE}.lnk"
  Delete "$INSTDIR\sensor-companion.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  RMDir /r "$INSTDIR\LICENSES"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
