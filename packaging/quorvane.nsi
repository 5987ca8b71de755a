; The Windows setup program: puts quorvane.scr into the system folder, lists itself among
; the installed programs and can make Quorvane the current screen saver; its uninstaller
; takes all of that away again. Built by the "setup" target of the windows preset, which
; passes VERSION, SCR (the built saver), LICENSE and OUTFILE.
Unicode true
SetCompressor /SOLID lzma
; The installed files get the time of installation, and the setup program holds no build time.
SetDateSave off
RequestExecutionLevel admin

!include MUI2.nsh
!include x64.nsh
!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"
!define DESKTOP_KEY "Control Panel\Desktop"

Name "Quorvane ${VERSION}"
BrandingText "Quorvane ${VERSION}"
OutFile "${OUTFILE}"
; The saver goes to $SYSDIR; this folder only holds the uninstaller and the licence.
InstallDir "$PROGRAMFILES\Quorvane"

!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Make Quorvane the current screen saver"
!define MUI_FINISHPAGE_RUN_FUNCTION MakeCurrentSaver
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

!macro RequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "Installing or removing Quorvane needs administrator rights." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro RequireAdmin
FunctionEnd

Function un.onInit
  !insertmacro RequireAdmin
FunctionEnd

Section
  ; Over an older version the file is replaced, whatever its date.
  SetOverwrite on
  SetOutPath "$SYSDIR"
  File "/oname=quorvane.scr" "${SCR}"
  SetOutPath "$INSTDIR"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

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
SectionEnd

; What the shell's Install verb for a .scr does. It gets the path where the file really is:
; the system reads SCRNSAVE.EXE from a 64-bit process, which does not see the 32-bit view
; of System32.
Function MakeCurrentSaver
  StrCpy $1 "$SYSDIR\quorvane.scr"
  ${If} ${RunningX64}
    StrCpy $1 "$WINDIR\SysWOW64\quorvane.scr"
  ${EndIf}
  ${DisableX64FSRedirection}
  Exec '"$WINDIR\System32\rundll32.exe" desk.cpl,InstallScreenSaver $1'
  ${EnableX64FSRedirection}
FunctionEnd

Section Uninstall
  Delete "$SYSDIR\quorvane.scr"
  ; As choosing "(None)" does, but only when the current saver is this one, named by
  ; either path in any letter case (StrCmp ignores case).
  ReadRegStr $0 HKCU "${DESKTOP_KEY}" SCRNSAVE.EXE
  ${If} $0 == "$WINDIR\System32\quorvane.scr"
  ${OrIf} $0 == "$WINDIR\SysWOW64\quorvane.scr"
    DeleteRegValue HKCU "${DESKTOP_KEY}" SCRNSAVE.EXE
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Last, so that whoever waits for the uninstaller can wait for this folder to go.
  RMDir "$INSTDIR"
SectionEnd
