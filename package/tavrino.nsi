; The Tavrino installer: one file for both architectures. On 64-bit Windows it installs
; the x64 programs under $PROGRAMFILES64\Tavrino, otherwise the x86 ones under
; $PROGRAMFILES\Tavrino; for all users, so it asks for elevation once.
;
; The time service (TavrinoSvc.exe, run by Windows as LocalService with the right to
; set the clock) starts from this folder, so the installer sets the folder's rights
; itself and never relies on what it would inherit: administrators and SYSTEM full
; control, users read and execute. A folder like D:\Tools\Tavrino would otherwise
; inherit "Authenticated Users: modify" from the drive, and any user could replace what
; the service or an elevated Tavrino.exe starts. The program keeps its profile and its
; logs beside itself and the settings editor writes the profile there, so the installer
; creates these three files and grants the PC's users write access to them only.
;
; Silent use:  setup.exe /S [/SERVER=name] [/PROTOCOL=SNTP|TIME|DAYTIME] [/NOSERVICE]
;                        [/STARTUP] [/D=C:\folder]   (/D last, without quotes)
;              Uninstall.exe /S [/PURGE]   (/PURGE also removes the profile and logs,
;                                           and the service's folder in ProgramData)
; Exit codes: 0 done, 2 stopped (a wrong switch, no rights, programs left running),
; 3 installed but the time service could not be set up (or removed, by the uninstaller).
;
; Made by scripts/package:
;   makensis -INPUTCHARSET UTF8 -DSTAGE=<folder> -DOUTFILE=<file> [-DTARGET=<stub>] tavrino.nsi
; STAGE holds version.nsh and x64/Tavrino/, x86/Tavrino/ (the folders of the ZIP
; packages). TARGET picks another stub (amd64-unicode runs under a Wine without 32-bit
; support).

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
!include Sections.nsh

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavrino"
; Accounts by SID: their names differ with the system's language.
!define ADMINS_SID "S-1-5-32-544"
!define SYSTEM_SID "S-1-5-18"
!define USERS_SID "S-1-5-32-545"
; The task that earlier versions registered to start the program elevated at logon.
!define TASK_NAME "Tavrino"
!define SERVICE_NAME "TavrinoService"
!define MENU_FOLDER "$SMPROGRAMS\Tavrino"
!define EXIT_STOPPED 2
!define EXIT_SERVICE 3

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
; What /SERVER= and /PROTOCOL= gave, passed on to the service's install command.
Var Server
Var Protocol

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
  !insertmacro Icacls '"${FILE}" /grant *${USERS_SID}:(RX,W)'
!macroend

; A change of rights that failed leaves the folder open to others: said, never ignored.
!macro Icacls ARGUMENTS
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" ${ARGUMENTS}'
  Pop $0
  ${If} $0 != 0
    DetailPrint 'icacls ${ARGUMENTS}: $0'
    MessageBox MB_ICONEXCLAMATION|MB_OK "$INSTDIR のアクセス権を設定できませんでした（$0）。" /SD IDOK
  ${EndIf}
!macroend

!macro ChooseView
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

; $R9 = 1 while FILE runs: Windows lets nobody open a running program for writing.
!macro InUse FILE
  ${If} ${FileExists} "${FILE}"
    ClearErrors
    FileOpen $R8 "${FILE}" a
    ${If} ${Errors}
      StrCpy $R9 1
    ${Else}
      FileClose $R8
    ${EndIf}
  ${EndIf}
!macroend

; The programs of the folder must not run while their files are replaced or removed.
; Interactively the user closes them (retry or cancel); silently they are asked to
; close, then ended. taskkill knows programs by name only: a copy of the same name
; elsewhere (a ZIP installation) is closed as well.
!macro ClosePrograms UN
Function ${UN}ProgramsRunning
  StrCpy $R9 0
  !insertmacro InUse "$INSTDIR\Tavrino.exe"
  !insertmacro InUse "$INSTDIR\Quillet.exe"
FunctionEnd

Function ${UN}WaitPrograms
  ${For} $R7 1 20
    Call ${UN}ProgramsRunning
    ${IfThen} $R9 == 0 ${|} ${ExitFor} ${|}
    Sleep 500
  ${Next}
FunctionEnd

Function ${UN}ClosePrograms
  ${Do}
    Call ${UN}ProgramsRunning
    ${IfThen} $R9 == 0 ${|} ${ExitDo} ${|}
    ${If} ${Silent}
      DetailPrint "Tavrino と Quillet を終了します"
      nsExec::ExecToLog '"$SYSDIR\taskkill.exe" /IM Tavrino.exe /IM Quillet.exe'
      Pop $0
      Call ${UN}WaitPrograms
      ${If} $R9 == 1
        nsExec::ExecToLog '"$SYSDIR\taskkill.exe" /F /IM Tavrino.exe /IM Quillet.exe'
        Pop $0
        Call ${UN}WaitPrograms
      ${EndIf}
      ${If} $R9 == 1
        SetErrorLevel ${EXIT_STOPPED}
        Abort "Tavrino または Quillet を終了できませんでした。"
      ${EndIf}
    ${Else}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "Tavrino または設定プログラム（Quillet）が起動しています。$\r$\n終了してから「再試行」を押してください。" \
        IDRETRY again
      SetErrorLevel ${EXIT_STOPPED}
      Abort "Tavrino または Quillet が起動しているため、中止しました。"
      again:
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro ClosePrograms ""
!insertmacro ClosePrograms "un."

Section "Tavrino（必須）" SecProgram
  SectionIn RO
  Call ClosePrograms
  ; An earlier installation's service runs the program about to be replaced. Its
  ; component starts it again; its parameters stay.
  ${If} ${FileExists} "$INSTDIR\TavrinoSvc.exe"
    DetailPrint "時刻合わせサービスを停止します"
    nsExec::ExecToLog '"$SYSDIR\net.exe" stop ${SERVICE_NAME}'
    Pop $0
    ${For} $R7 1 60
      StrCpy $R9 0
      !insertmacro InUse "$INSTDIR\TavrinoSvc.exe"
      ${IfThen} $R9 == 0 ${|} ${ExitFor} ${|}
      Sleep 500
    ${Next}
  ${EndIf}
  ; Earlier versions started the program elevated at logon; the service does that now.
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK_NAME}" /F'
  Pop $0
  Delete "$INSTDIR\logon-task.xml"

  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${STAGE}/x64/Tavrino/Tavrino.exe"
    File "${STAGE}/x64/Tavrino/Quillet.exe"
    File "${STAGE}/x64/Tavrino/TavrinoNts.dll"
  ${Else}
    File "${STAGE}/x86/Tavrino/Tavrino.exe"
    File "${STAGE}/x86/Tavrino/Quillet.exe"
    File "${STAGE}/x86/Tavrino/TavrinoNts.dll"
  ${EndIf}
  File "${STAGE}/x64/Tavrino/LICENSE.txt"
  File "${STAGE}/x64/Tavrino/THIRD-PARTY-NOTICES.txt"
  SetOutPath "$INSTDIR\guide"
  File /r "${STAGE}/x64/Tavrino/guide/*"
  SetOutPath "$INSTDIR\policy"
  File /r "${STAGE}/x64/Tavrino/policy/*"
  SetOutPath "$INSTDIR"
  ; The sample profile only when there is none: a reinstall keeps the user's settings.
  ${IfNot} ${FileExists} "$INSTDIR\Tavrino.INI"
    File "${STAGE}/x64/Tavrino/Tavrino.INI"
  ${EndIf}
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  Call SecureFolder
  !insertmacro GrantUsers "$INSTDIR\Tavrino.INI"
  !insertmacro UserFile "$INSTDIR\Tavrino.log"
  !insertmacro UserFile "$INSTDIR\Tavrino.sntp.log"

  SetShellVarContext all
  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\Tavrino.lnk" "$INSTDIR\Tavrino.exe"
  CreateShortcut "${MENU_FOLDER}\Tavrino 設定.lnk" "$INSTDIR\Quillet.exe"
  CreateShortcut "${MENU_FOLDER}\Tavrino 利用ガイド.lnk" "$INSTDIR\guide\guide.html"

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

; The service adjusts the clock at start, after a resume and daily, for every user:
; a standard user's "adjust now" goes to it instead of asking for elevation.
Section "時刻合わせサービス（推奨）" SecService
  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${STAGE}/x64/Tavrino/TavrinoSvc.exe"
  ${Else}
    File "${STAGE}/x86/Tavrino/TavrinoSvc.exe"
  ${EndIf}
  StrCpy $R0 '"$INSTDIR\TavrinoSvc.exe" install'
  ${If} $Server != ""
    StrCpy $R0 "$R0 /server=$Server"
  ${EndIf}
  ${If} $Protocol != ""
    StrCpy $R0 "$R0 /protocol=$Protocol"
  ${EndIf}
  DetailPrint "時刻合わせサービスを登録して開始します"
  nsExec::ExecToLog $R0
  Pop $0
  ${If} $0 != 0
    DetailPrint "TavrinoSvc.exe install: $0"
    SetErrorLevel ${EXIT_SERVICE}
    MessageBox MB_ICONEXCLAMATION|MB_OK \
      "時刻合わせサービスを登録または開始できませんでした（$0）。$\r$\nイベント ビューアーの Windows ログ「Application」に理由が記録されています。" \
      /SD IDOK
  ${EndIf}
  WriteRegDWORD HKLM "${UNINST_KEY}" "ServiceComponent" 1
SectionEnd

; The window at every user's logon, with the user's own rights: Windows starts nothing
; elevated from the Startup folder, and the service adjusts the clock anyway.
Section /o "ログオン時に Tavrino を起動する" SecStartup
  SetShellVarContext all
  CreateShortcut "$SMSTARTUP\Tavrino.lnk" "$INSTDIR\Tavrino.exe"
  WriteRegDWORD HKLM "${UNINST_KEY}" "StartupComponent" 1
SectionEnd

; A component turned off on a reinstall goes.
Section "-Components turned off"
  ${IfNot} ${SectionIsSelected} ${SecService}
    ${If} ${FileExists} "$INSTDIR\TavrinoSvc.exe"
      nsExec::ExecToLog '"$INSTDIR\TavrinoSvc.exe" uninstall'
      Pop $0
      ${If} $0 != 0
        SetErrorLevel ${EXIT_SERVICE}
        MessageBox MB_ICONEXCLAMATION|MB_OK "時刻合わせサービスを削除できませんでした（$0）。" /SD IDOK
      ${EndIf}
      Delete "$INSTDIR\TavrinoSvc.exe"
    ${EndIf}
    WriteRegDWORD HKLM "${UNINST_KEY}" "ServiceComponent" 0
  ${EndIf}
  ${IfNot} ${SectionIsSelected} ${SecStartup}
    SetShellVarContext all
    Delete "$SMSTARTUP\Tavrino.lnk"
    WriteRegDWORD HKLM "${UNINST_KEY}" "StartupComponent" 0
  ${EndIf}
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

; The folder's rights, whatever it had: owned by the administrators (an owner may
; change the rights again), its own entries and the files' dropped, nothing inherited;
; then the folder's three entries, which its files and folders inherit.
Function SecureFolder
  !insertmacro Icacls '"$INSTDIR" /setowner *${ADMINS_SID} /T /C /Q'
  !insertmacro Icacls '"$INSTDIR" /reset /Q'
  !insertmacro Icacls '"$INSTDIR" /inheritance:r /grant:r *${ADMINS_SID}:(OI)(CI)F *${SYSTEM_SID}:(OI)(CI)F *${USERS_SID}:(OI)(CI)RX /Q'
  !insertmacro Icacls '"$INSTDIR\*" /reset /T /C /Q'
FunctionEnd

Function .onInit
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP|MB_OK "インストールには管理者の権限が必要です。" /SD IDOK
    SetErrorLevel ${EXIT_STOPPED}
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

  ; The components chosen last time, then what the command line asks.
  ClearErrors
  ReadRegDWORD $0 HKLM "${UNINST_KEY}" "ServiceComponent"
  ${IfNot} ${Errors}
  ${AndIf} $0 == 0
    !insertmacro UnselectSection ${SecService}
  ${EndIf}
  ClearErrors
  ReadRegDWORD $0 HKLM "${UNINST_KEY}" "StartupComponent"
  ${IfNot} ${Errors}
  ${AndIf} $0 == 1
    !insertmacro SelectSection ${SecStartup}
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/NOSERVICE" $R1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecService}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/STARTUP" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecStartup}
  ${EndIf}

  ${GetOptions} $R0 "/SERVER=" $Server
  ${GetOptions} $R0 "/PROTOCOL=" $Protocol
  ; The server goes unquoted onto the service's command line: a host name or an
  ; address has no blank, quote or slash.
  StrCpy $1 0
  ${Do}
    StrCpy $2 $Server 1 $1
    ${IfThen} $2 == "" ${|} ${ExitDo} ${|}
    ${If} $2 == " "
    ${OrIf} $2 == '"'
    ${OrIf} $2 == "/"
    ${OrIf} $2 == "$\t"
      MessageBox MB_ICONSTOP|MB_OK "/SERVER= のサーバ名「$Server」は使えません。" /SD IDOK
      SetErrorLevel ${EXIT_STOPPED}
      Abort
    ${EndIf}
    IntOp $1 $1 + 1
  ${Loop}
  ; Compared without regard to case, as the service reads it.
  ${If} $Protocol != ""
  ${AndIf} $Protocol != "SNTP"
  ${AndIf} $Protocol != "TIME"
  ${AndIf} $Protocol != "DAYTIME"
    MessageBox MB_ICONSTOP|MB_OK "/PROTOCOL= は SNTP、TIME、DAYTIME のどれかです（「$Protocol」）。" /SD IDOK
    SetErrorLevel ${EXIT_STOPPED}
    Abort
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
  ; The service first: it runs the program about to be removed.
  ${If} ${FileExists} "$INSTDIR\TavrinoSvc.exe"
    nsExec::ExecToLog '"$INSTDIR\TavrinoSvc.exe" uninstall'
    Pop $0
    ${If} $0 != 0
      DetailPrint "TavrinoSvc.exe uninstall: $0"
      SetErrorLevel ${EXIT_SERVICE}
      MessageBox MB_ICONEXCLAMATION|MB_OK "時刻合わせサービスを削除できませんでした（$0）。" /SD IDOK
    ${EndIf}
  ${EndIf}
  Call un.ClosePrograms
  ; An earlier version's task, if this installation still has one.
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK_NAME}" /F'
  Pop $0

  SetShellVarContext all
  Delete "$SMSTARTUP\Tavrino.lnk"
  Delete "${MENU_FOLDER}\Tavrino.lnk"
  Delete "${MENU_FOLDER}\Tavrino 設定.lnk"
  Delete "${MENU_FOLDER}\Tavrino 利用ガイド.lnk"
  RMDir "${MENU_FOLDER}"

  Delete "$INSTDIR\Tavrino.exe"
  Delete "$INSTDIR\Quillet.exe"
  Delete "$INSTDIR\TavrinoSvc.exe"
  Delete "$INSTDIR\TavrinoNts.dll"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\logon-task.xml"
  RMDir /r "$INSTDIR\guide"
  RMDir /r "$INSTDIR\policy"
  Delete "$INSTDIR\Uninstall.exe"

  ; The user's settings and history, and the service's, stay unless asked (silently:
  ; /PURGE).
  ${If} $Purge != 1
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
      "設定ファイル（Tavrino.INI）と履歴（Tavrino.log、Tavrino.sntp.log）、$\r$\n時刻合わせサービスの履歴（$APPDATA\Tavrino）も削除しますか？" \
      /SD IDNO IDNO keep
    StrCpy $Purge 1
    keep:
  ${EndIf}
  ${If} $Purge == 1
    Delete "$INSTDIR\Tavrino.INI"
    Delete "$INSTDIR\Tavrino.log"
    Delete "$INSTDIR\Tavrino.sntp.log"
    ; ProgramData, as the shell's context is all users.
    RMDir /r "$APPDATA\Tavrino"
  ${EndIf}
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
