; The Tavrino installer: one file for both architectures. On 64-bit Windows it installs
; the x64 programs under $PROGRAMFILES64\Tavrino, otherwise the x86 ones under
; $PROGRAMFILES\Tavrino; for all users, so it asks for elevation once.
;
; The program keeps its profile and its logs beside itself, and the settings editor
; writes the profile there. The folder is one that only administrators write (an
; elevated logon task must not start a program that anybody could replace), so the
; installer creates these three files and grants the PC's users write access to these
; files only, never to the folder or the programs.
;
; Silent use:  setup.exe /S [/LOGONTASK] [/D=C:\folder]   (/D last, without quotes)
;              Uninstall.exe /S [/PURGE]   (/PURGE also removes the profile and logs)
;
; Made by scripts/package:
;   makensis -INPUTCHARSET UTF8 -DSTAGE=<folder> -DOUTFILE=<file> [-DTARGET=<stub>] tavrino.nsi
; STAGE holds version.nsh, logon-task.xml (UTF-16) and x64/Tavrino/, x86/Tavrino/ (the
; folders of the ZIP packages). TARGET picks another stub (amd64-unicode runs under a
; Wine without 32-bit support).

!ifdef TARGET
  Target ${TARGET}
!else
  Unicode true
!endif

!include "${STAGE}/version.nsh"
!include MUI2.nsh
!include x64.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include Sections.nsh

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavrino"
; BUILTIN\Users by its SID: the group's name differs with the system's language.
!define USERS_SID "S-1-5-32-545"
!define TASK_NAME "Tavrino"
!define MENU_FOLDER "$SMPROGRAMS\Tavrino"

Name "Tavrino"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma
BrandingText "Tavrino ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ICON "..\res\tavrino.ico"
!define MUI_UNICON "..\res\tavrino.ico"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductName" "Tavrino"
VIAddVersionKey /LANG=${LANG_JAPANESE} "CompanyName" "Tavrino 開発チーム"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileDescription" "Tavrino セットアップ"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "LegalCopyright" "© 2026 Tavrino 開発チーム"

Var Purge

; A file that users may write: created empty unless it is there already (a reinstall
; keeps the user's history), then opened to the PC's users.
!macro UserFile FILE
  ${IfNot} ${FileExists} "${FILE}"
    FileOpen $0 "${FILE}" w
    FileClose $0
  ${EndIf}
  !insertmacro GrantUsers "${FILE}"
!macroend

!macro GrantUsers FILE
  ; Read and write, not delete: without rights on the folder the program could not
  ; create the file again.
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "${FILE}" /grant *${USERS_SID}:(RX,W)'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_ICONEXCLAMATION|MB_OK "${FILE} の書き込み権限を設定できませんでした（$0）。" /SD IDOK
  ${EndIf}
!macroend

!macro ChooseView
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

Section "Tavrino（必須）" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${STAGE}/x64/Tavrino/Tavrino.exe"
    File "${STAGE}/x64/Tavrino/Quillet.exe"
  ${Else}
    File "${STAGE}/x86/Tavrino/Tavrino.exe"
    File "${STAGE}/x86/Tavrino/Quillet.exe"
  ${EndIf}
  File "${STAGE}/x64/Tavrino/LICENSE.txt"
  File "${STAGE}/x64/Tavrino/THIRD-PARTY-NOTICES.txt"
  SetOutPath "$INSTDIR\guide"
  File /r "${STAGE}/x64/Tavrino/guide/*"
  SetOutPath "$INSTDIR"

  ; The sample profile only when there is none: a reinstall keeps the user's settings.
  ${IfNot} ${FileExists} "$INSTDIR\Tavrino.INI"
    File "${STAGE}/x64/Tavrino/Tavrino.INI"
  ${EndIf}
  !insertmacro GrantUsers "$INSTDIR\Tavrino.INI"
  !insertmacro UserFile "$INSTDIR\Tavrino.log"
  !insertmacro UserFile "$INSTDIR\Tavrino.sntp.log"

  ; A task of an earlier installation goes; its component puts it back when chosen.
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK_NAME}" /F'
  Pop $0
  Delete "$INSTDIR\logon-task.xml"

  SetShellVarContext all
  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\Tavrino.lnk" "$INSTDIR\Tavrino.exe"
  CreateShortcut "${MENU_FOLDER}\Tavrino 設定.lnk" "$INSTDIR\Quillet.exe"
  CreateShortcut "${MENU_FOLDER}\Tavrino 利用ガイド.lnk" "$INSTDIR\guide\guide.html"

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Tavrino"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Tavrino 開発チーム"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Tavrino.exe,0"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

; The task starts the program elevated at every logon; the program then adjusts the
; clock at start (AutoAdjust) and stays for its daily time, if one is set.
Section /o "ログオン時に時計を合わせる" SecLogonTask
  InitPluginsDir
  File "/oname=$PLUGINSDIR\logon-task.xml" "${STAGE}/logon-task.xml"
  Call WriteTaskXml
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /TN "${TASK_NAME}" /XML "$INSTDIR\logon-task.xml" /F'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_ICONEXCLAMATION|MB_OK "ログオン時のタスクを登録できませんでした（$0）。" /SD IDOK
  ${EndIf}
  WriteINIStr "$INSTDIR\Tavrino.INI" "Property" "AutoAdjust" "1"
SectionEnd

; The task's XML with the installed folder filled in, UTF-16 as schtasks reads it. It
; stays in the folder: what was registered, for the administrator to read.
Function WriteTaskXml
  ${WordReplace} "$INSTDIR" "&" "&amp;" "+" $R0
  FileOpen $R1 "$PLUGINSDIR\logon-task.xml" r
  FileOpen $R2 "$INSTDIR\logon-task.xml" w
  FileWriteUTF16LE /BOM $R2 ""
  ${Do}
    ClearErrors
    FileReadUTF16LE $R1 $R3
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    ${WordReplace} "$R3" "@FOLDER@" "$R0" "+" $R3
    FileWriteUTF16LE $R2 "$R3"
  ${Loop}
  FileClose $R1
  FileClose $R2
FunctionEnd

Function .onInit
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP|MB_OK "インストールには管理者の権限が必要です。" /SD IDOK
    Abort
  ${EndIf}
  !insertmacro ChooseView
  ; /D= sets the folder before this runs; otherwise the earlier installation's, or the
  ; architecture's Program Files.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR HKLM "${UNINST_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\Tavrino"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\Tavrino"
    ${EndIf}
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/LOGONTASK" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecLogonTask}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro ChooseView
  StrCpy $Purge 0
  ${un.GetParameters} $R0
  ClearErrors
  ${un.GetOptions} $R0 "/PURGE" $R1
  ${IfNot} ${Errors}
    StrCpy $Purge 1
  ${EndIf}
FunctionEnd

Section "Uninstall"
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK_NAME}" /F'
  Pop $0

  SetShellVarContext all
  Delete "${MENU_FOLDER}\Tavrino.lnk"
  Delete "${MENU_FOLDER}\Tavrino 設定.lnk"
  Delete "${MENU_FOLDER}\Tavrino 利用ガイド.lnk"
  RMDir "${MENU_FOLDER}"

  Delete "$INSTDIR\Tavrino.exe"
  Delete "$INSTDIR\Quillet.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\logon-task.xml"
  RMDir /r "$INSTDIR\guide"
  Delete "$INSTDIR\Uninstall.exe"

  ; The user's settings and history stay unless asked (silently: /PURGE).
  ${If} $Purge != 1
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
      "設定ファイル（Tavrino.INI）と履歴（Tavrino.log、Tavrino.sntp.log）も削除しますか？" \
      /SD IDNO IDNO keep
    StrCpy $Purge 1
    keep:
  ${EndIf}
  ${If} $Purge == 1
    Delete "$INSTDIR\Tavrino.INI"
    Delete "$INSTDIR\Tavrino.log"
    Delete "$INSTDIR\Tavrino.sntp.log"
  ${EndIf}
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
