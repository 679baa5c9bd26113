; The Windows installer of Qimbo收藏 (NSIS 3, Unicode, 64-bit like the program).
; Built by the CMake target qimbo_setup (make dist), which passes:
;   VERSION (1.0.6), VERSION4 (1.0.6.0), PUBLISHER, COPYRIGHT,
;   STAGE (the laid-out program folder), LISTS (install.nsh and uninstall.nsh
;   made from it by nsis-lists.py), OUTFILE, RES (the resource folder).
;
; Per user, without administrator rights, into %LOCALAPPDATA%\Programs\Qimbo:
; the program keeps favorites, settings, skins, scripts and offline pages in
; its own folder, which must stay writable for its user, so no all-users
; install into Program Files is offered. /S installs silently, /D=FOLDER
; (last on the command line) chooses the folder.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define APPNAME "Qimbo收藏"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Qimbo"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The program's single-instance mutex is named after its executable.
!define MUTEX "Qimbo"

Name "${APPNAME} ${VERSION}"
Caption "${APPNAME} ${VERSION} 安装"
UninstallCaption "${APPNAME} ${VERSION} 卸载"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Qimbo"
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
BrandingText "${APPNAME} ${VERSION}"

Var FreshSkin

!define MUI_ICON "${RES}/art/qimbo.ico"
!define MUI_UNICON "${RES}/art/qimbo.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\Qimbo.exe"
!define MUI_FINISHPAGE_RUN_TEXT "现在运行 ${APPNAME}"

!insertmacro MUI_PAGE_WELCOME
!ifdef LICENSE
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!endif
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${APPNAME}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${APPNAME} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "${COPYRIGHT}"

; Qimbo.exe must not run while its files are replaced or removed: the user is
; asked to exit it and try again; a silent run ends with exit code 2.
!macro REFUSE_WHILE_RUNNING UN
Function ${UN}RefuseWhileRunning
  retry:
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${MUTEX}") p .r0'
  StrCmp $0 0 done
  System::Call 'kernel32::CloseHandle(p r0)'
  IfSilent 0 ask
  SetErrorLevel 2
  Quit
  ask:
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${APPNAME}正在运行。请先退出它（托盘图标菜单中的“退出”），再点“重试”。" IDRETRY retry
  Quit
  done:
FunctionEnd
!macroend
!insertmacro REFUSE_WHILE_RUNNING ""
!insertmacro REFUSE_WHILE_RUNNING "un."

Function .onInit
  SetShellVarContext current
  Call RefuseWhileRunning
FunctionEnd

Section "${APPNAME}（必需）" SecProgram
  SectionIn RO
  ; A folder that already has a skin database or a used first-run marker is
  ; an earlier install: its current skin stays as the user left it.
  StrCpy $FreshSkin 1
  ${If} ${FileExists} "$INSTDIR\skin\MySkin.db"
  ${OrIf} ${FileExists} "$INSTDIR\skin\SecondRun.txt"
    StrCpy $FreshSkin 0
  ${EndIf}
  SetOverwrite on
  !include "${LISTS}/install.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${APPNAME}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Qimbo.exe,0"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "开始菜单快捷方式" SecStartMenu
  CreateDirectory "$SMPROGRAMS\${APPNAME}"
  CreateShortcut "$SMPROGRAMS\${APPNAME}\${APPNAME}.lnk" "$INSTDIR\Qimbo.exe" "" "$INSTDIR\Qimbo.exe" 0 \
                 SW_SHOWNORMAL "" "${APPNAME}"
  CreateShortcut "$SMPROGRAMS\${APPNAME}\卸载 ${APPNAME}.lnk" "$INSTDIR\uninstall.exe"
SectionEnd

Section "桌面快捷方式" SecDesktop
  CreateShortcut "$DESKTOP\${APPNAME}.lnk" "$INSTDIR\Qimbo.exe" "" "$INSTDIR\Qimbo.exe" 0
SectionEnd

Section /o "开机时自动启动" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "Qimbo" '"$INSTDIR\Qimbo.exe"'
SectionEnd

; ---- the uninstaller --------------------------------------------------------

Function un.onInit
  SetShellVarContext current
  Call un.RefuseWhileRunning
FunctionEnd

Section "un.${APPNAME}程序" UnSecProgram
  SectionIn RO
  ; The program's own copies of the skin's decoded pictures, made again at need.
  RMDir /r "$INSTDIR\images\cache"
  !include "${LISTS}/uninstall.nsh"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\${APPNAME}\${APPNAME}.lnk"
  Delete "$SMPROGRAMS\${APPNAME}\卸载 ${APPNAME}.lnk"
  RMDir "$SMPROGRAMS\${APPNAME}"
  Delete "$DESKTOP\${APPNAME}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "Qimbo"
  DeleteRegKey HKCU "${UNINST_KEY}"
  RMDir "$INSTDIR"
SectionEnd

; Off unless ticked: favorites, settings, skins, scripts and offline pages stay.
Section /o "un.同时删除我的收藏、设置、皮肤、脚本和离线网页" UnSecData
  RMDir /r "$INSTDIR\data"
  RMDir /r "$INSTDIR\config"
  RMDir /r "$INSTDIR\skin"
  RMDir /r "$INSTDIR\script"
  RMDir /r "$INSTDIR\offline-page"
  RMDir /r "$INSTDIR\images"
  RMDir /r "$INSTDIR\head"
  RMDir "$INSTDIR"
SectionEnd
