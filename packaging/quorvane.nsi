; The Windows setup program: puts quorvane.scr into the system folder, lists itself among
; the installed programs and can make Quorvane the current screen saver; its uninstaller
; takes all of that away again. Built by the "setup" target of the windows preset, which
; passes VERSION, SCR (the built saver), LICENSE and OUTFILE.
;
; An ANSI build, so that it runs on Windows 95, 98 and Me as well as on every NT. There
; the current saver is named in SYSTEM.INI, rundll32.exe sits in the Windows folder and
; nobody has administrator rights to ask for.
Unicode false
SetCompressor /SOLID lzma
; The installed files get the time of installation, and the setup program holds no build time.
SetDateSave off
RequestExecutionLevel admin

!include MUI2.nsh
!include x64.nsh
!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"
!define DESKTOP_KEY "Control Panel\Desktop"
!define SCR_NAME "quorvane.scr"
; A running saver (the settings' preview, or the saver itself) holds its file. The new one
; is unpacked beside it under this name, which no one offers as a saver, and renamed over
; it, at once or, while the old one runs, at the next restart.
!define NEW_NAME "quorvane.new"
; What installers return when their work is complete only after a restart.
!define EXIT_RESTART_REQUIRED 3010
!define EXIT_FAILED 2

; 1 on Windows 95, 98 and Me, as the platform id that the saver itself reads says.
Var Win9x
; The folder of the saver as the system itself names it: on 64-bit Windows the session
; manager that replaces or deletes a file at restart is a 64-bit program, which sees
; SysWOW64 under its own name. Used with the file-system redirection off.
Var SaverDir

Name "Quorvane ${VERSION}"
BrandingText "Quorvane ${VERSION}"
OutFile "${OUTFILE}"
; The saver goes to the system folder; this folder only holds the uninstaller and the licence.
InstallDir "$PROGRAMFILES\Quorvane"

!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Make Quorvane the current screen saver"
!define MUI_FINISHPAGE_RUN_FUNCTION MakeCurrentSaver
; A pending restart is announced by a message of our own, so the finish page keeps its box.
!define MUI_FINISHPAGE_NOREBOOTSUPPORT
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

; GetVersion sets its top bit on Windows 9x. (The library's own test for NT asks another
; question, which a program set to an older Windows version cannot change.)
!macro Prepare
  System::Call 'kernel32::GetVersion() i .r0'
  StrCpy $Win9x 0
  ${If} $0 < 0
    StrCpy $Win9x 1
  ${EndIf}
  StrCpy $SaverDir $SYSDIR
  ${If} ${RunningX64}
    StrCpy $SaverDir "$WINDIR\SysWOW64"
  ${EndIf}
  ${If} $Win9x = 0
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
      MessageBox MB_ICONSTOP "Installing or removing Quorvane needs administrator rights." /SD IDOK
      SetErrorLevel 740
      Quit
    ${EndIf}
  ${EndIf}
!macroend

; Only file operations run with the redirection off: the System plugin loads libraries
; by name, and must find the 32-bit ones.
!macro RedirectionOff
  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
  ${EndIf}
!macroend

!macro RedirectionOn
  ${If} ${RunningX64}
    ${EnableX64FSRedirection}
  ${EndIf}
!macroend

; In silent mode the exit code says it; otherwise a message does.
!macro ReportRestart TEXT
  ${If} ${RebootFlag}
    MessageBox MB_ICONINFORMATION "${TEXT}" /SD IDOK
    SetErrorLevel ${EXIT_RESTART_REQUIRED}
  ${EndIf}
!macroend

!macro Fail TEXT
  MessageBox MB_ICONSTOP "${TEXT}" /SD IDOK
  SetErrorLevel ${EXIT_FAILED}
  Abort
!macroend

Function .onInit
  !insertmacro Prepare
FunctionEnd

Function un.onInit
  !insertmacro Prepare
FunctionEnd

Section
  ; Over an older version the file is replaced, whatever its date.
  SetOverwrite on
  !insertmacro RedirectionOff
  SetOutPath "$SaverDir"
  File "/oname=${NEW_NAME}" "${SCR}"
  Delete "$SaverDir\${SCR_NAME}"
  ClearErrors
  Rename /REBOOTOK "$SaverDir\${NEW_NAME}" "$SaverDir\${SCR_NAME}"
  !insertmacro RedirectionOn
  ${If} ${Errors}
    !insertmacro Fail "$SaverDir\${SCR_NAME} could not be replaced."
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The version recorded is the one in place, now or after the restart.
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "Quorvane screen saver"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "Quorvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\uninstall.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
  SectionGetSize 0 $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
  !insertmacro ReportRestart "Quorvane is running. The new version takes its place when Windows restarts."
SectionEnd

; What the shell's Install verb for a .scr does, with the path where the file really is:
; the system reads the current saver from a 64-bit process on 64-bit Windows.
Function MakeCurrentSaver
  ${If} $Win9x = 1
    Exec '"$WINDIR\rundll32.exe" desk.cpl,InstallScreenSaver $SaverDir\${SCR_NAME}'
  ${Else}
    !insertmacro RedirectionOff
    Exec '"$WINDIR\System32\rundll32.exe" desk.cpl,InstallScreenSaver $SaverDir\${SCR_NAME}'
    !insertmacro RedirectionOn
  ${EndIf}
FunctionEnd

; As choosing "(None)" does, but only when the current saver is this one, named by any of
; its paths in any letter case (StrCmp ignores case). Windows 9x keeps the setting in
; SYSTEM.INI, often by the file's short name, which $R1 holds.
Function un.ForgetCurrentSaver
  ${If} $Win9x = 1
    ReadINIStr $0 "$WINDIR\SYSTEM.INI" boot SCRNSAVE.EXE
    ${If} $0 == "$SYSDIR\${SCR_NAME}"
    ${OrIf} $0 == $R1
      DeleteINIStr "$WINDIR\SYSTEM.INI" boot SCRNSAVE.EXE
    ${EndIf}
  ${Else}
    ReadRegStr $0 HKCU "${DESKTOP_KEY}" SCRNSAVE.EXE
    ${If} $0 == "$WINDIR\System32\${SCR_NAME}"
    ${OrIf} $0 == "$WINDIR\SysWOW64\${SCR_NAME}"
      DeleteRegValue HKCU "${DESKTOP_KEY}" SCRNSAVE.EXE
    ${EndIf}
  ${EndIf}
FunctionEnd

Section Uninstall
  ; The short name can only be read while the file is there.
  GetFullPathName /SHORT $R1 "$SYSDIR\${SCR_NAME}"
  ; A running saver's file goes at the next restart; the entry goes once the file is gone
  ; or its deletion is scheduled, so that a file that stays can still be uninstalled.
  !insertmacro RedirectionOff
  Delete "$SaverDir\${NEW_NAME}"
  Delete /REBOOTOK "$SaverDir\${SCR_NAME}"
  ${If} ${FileExists} "$SaverDir\${SCR_NAME}"
  ${AndIfNot} ${RebootFlag}
    !insertmacro RedirectionOn
    !insertmacro Fail "$SaverDir\${SCR_NAME} could not be removed."
  ${EndIf}
  !insertmacro RedirectionOn
  Call un.ForgetCurrentSaver
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Last, so that whoever waits for the uninstaller can wait for this folder to go.
  RMDir "$INSTDIR"
  !insertmacro ReportRestart "Quorvane is running. Its file is removed when Windows restarts."
SectionEnd
