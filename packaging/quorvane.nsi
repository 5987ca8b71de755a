; The Windows setup program: puts quorvane.scr into the system folder, lists itself among
; the installed programs and can make Quorvane the current screen saver; its uninstaller
; takes all of that away again. Built by the "setup" target of the windows preset, which
; passes VERSION, SCR (the built saver), LICENSE, ICON (the saver's icon) and OUTFILE.
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
; On NT the uninstaller moves a running saver's file aside under this name and deletes it
; at the restart, so that the restart deletes nothing that a reinstall puts in place.
!define OLD_NAME "quorvane.old"
; What installers return when their work is complete only after a restart.
!define EXIT_RESTART_REQUIRED 3010
!define EXIT_FAILED 2

; 1 on Windows 95, 98 and Me, as the platform id that the saver itself reads says.
Var Win9x
; 1 on 64-bit Windows, where this 32-bit program's view of the system folder is redirected.
Var X64
; The folder of the saver as the system itself names it: on 64-bit Windows the session
; manager that replaces or deletes a file at restart is a 64-bit program, which sees
; SysWOW64 under its own name. Used with the file-system redirection off.
Var SaverDir

Name "Quorvane ${VERSION}"
BrandingText "Quorvane ${VERSION}"
OutFile "${OUTFILE}"
; The saver goes to the system folder; this folder only holds the uninstaller and the licence.
InstallDir "$PROGRAMFILES\Quorvane"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
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
  StrCpy $X64 0
  StrCpy $SaverDir $SYSDIR
  ${If} ${RunningX64}
    StrCpy $X64 1
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
  ${If} $X64 = 1
    ${DisableX64FSRedirection}
  ${EndIf}
!macroend

!macro RedirectionOn
  ${If} $X64 = 1
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
  ; A copy that an uninstaller moved aside; while it still runs, the restart removes it.
  Delete "$SaverDir\${OLD_NAME}"
  ${If} $Win9x = 1
    Call CancelPendingDeletion
  ${EndIf}
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
  ; The uninstaller carries the saver's icon and is there as long as this entry is, while
  ; the saver's file may still be an older one until the restart.
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

; Windows 9x deletes files at the restart from WININIT.INI, one "NUL=<short path>" line
; each. A deletion of the name about to be written is taken out, or the restart would
; remove the new file. The old file is still there, so its short name can be read.
Function CancelPendingDeletion
  StrCpy $3 "$WINDIR\WININIT.INI"
  GetFullPathName /SHORT $1 "$SaverDir\${SCR_NAME}"
  ${If} $1 == ""
  ${OrIfNot} ${FileExists} $3
    Return
  ${EndIf}
  GetTempFileName $2 $WINDIR
  FileOpen $4 $3 r
  FileOpen $5 $2 w
  ${Do}
    ClearErrors
    FileRead $4 $0
    ${If} ${Errors}
      ${ExitDo}
    ${EndIf}
    StrCpy $6 $0 -2
    ${If} $6 != "NUL=$1"
    ${AndIf} $6 != "NUL=$SaverDir\${SCR_NAME}"
      FileWrite $5 $0
    ${EndIf}
  ${Loop}
  FileClose $4
  FileClose $5
  CopyFiles /SILENT $2 $3
  Delete $2
FunctionEnd

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
  ; or its deletion is scheduled, so that a file that stays can still be uninstalled. NT
  ; lets the running file be renamed: moved aside, it leaves the name free for a reinstall
  ; before the restart, which deletes only the copy. Where it cannot be moved (Windows 9x,
  ; or an earlier copy still runs), its deletion is scheduled by name.
  !insertmacro RedirectionOff
  Delete "$SaverDir\${NEW_NAME}"
  Delete "$SaverDir\${SCR_NAME}"
  ${If} ${FileExists} "$SaverDir\${SCR_NAME}"
  ${AndIf} $Win9x = 0
    Delete "$SaverDir\${OLD_NAME}"
    ClearErrors
    Rename "$SaverDir\${SCR_NAME}" "$SaverDir\${OLD_NAME}"
    ${IfNot} ${Errors}
      Delete /REBOOTOK "$SaverDir\${OLD_NAME}"
    ${EndIf}
  ${EndIf}
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
