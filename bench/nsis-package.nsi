; The NSIS installer bench/run.sh times ours against: the same payload,
; LZMA solid, the pages our setup shows (welcome, licence, folder, start menu
; folder, progress, finish), a start menu shortcut, an uninstall entry and an
; uninstaller with its confirmation and progress pages.
;   makensis -DOUT=FILE -DPAYLOAD=FOLDER -DLICENCE=FILE nsis-package.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
!include MUI2.nsh

Name "Bench Package"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\Bench Package"
RequestExecutionLevel admin

Var StartMenuFolder
!define MUI_STARTMENUPAGE_DEFAULTFOLDER "Bench Package"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENCE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_STARTMENU Application $StartMenuFolder
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Bench Package"

Section "Install"
  SetOutPath "$INSTDIR"
  File /r "${PAYLOAD}/*"
  WriteUninstaller "$INSTDIR\Uninst.exe"
  !insertmacro MUI_STARTMENU_WRITE_BEGIN Application
    CreateDirectory "$SMPROGRAMS\$StartMenuFolder"
    CreateShortcut "$SMPROGRAMS\$StartMenuFolder\Uninstall.lnk" "$INSTDIR\Uninst.exe"
  !insertmacro MUI_STARTMENU_WRITE_END
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Bench Package"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$INSTDIR\Uninst.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
SectionEnd

Section "Uninstall"
  !insertmacro MUI_STARTMENU_GETFOLDER Application $StartMenuFolder
  Delete "$SMPROGRAMS\$StartMenuFolder\Uninstall.lnk"
  RMDir "$SMPROGRAMS\$StartMenuFolder"
  RMDir /r "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
