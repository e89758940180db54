; Quendal as a real installer engine builds it, for the tests and the demo. Installed silently:
;   quendal_setup.exe /S [/ENTRY=KEY] [/UNINSTALLER=NAME] [/REGISTER=FORM] [/WINDOW_DELAY=MS]
;                        [/WINDOW=none] [/LINGER=PROGRAM] [/D=FOLDER]
; FORM is how the entry names the uninstaller: plain (C:\...\NAME), quoted ("C:\...\NAME", the
; default) or quoted-args ("C:\...\NAME" /allusers). The uninstaller is the engine's own: its
; stub copies itself to %TEMP%, starts the copy and ends at once; the copy waits MS
; milliseconds (as when a virus scanner holds a program freshly written to %TEMP%), shows its
; window (or, with /WINDOW=none, works without one), works WORK_MS milliseconds, and removes
; the files, the folder and the entry. With /LINGER it then starts PROGRAM /linger=LINGER_MS,
; which outlives the copy's window, as a web page or a restarted shell does.
Unicode true
!include FileFunc.nsh

!ifndef OUTFILE
  !define OUTFILE quendal_setup.exe
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define WORK_MS 1500
!define LINGER_MS 8000

Name "Quendal"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Orvanex\Quendal"
RequestExecutionLevel admin
; The engine puts a page's subcaption after the caption, and an empty one means its default
; (": Uninstalling"): the title's trailing blank is the subcaption.
UninstallCaption "Orvanex Quendal Uninstall"
UninstallSubCaption 0 " "
UninstallSubCaption 1 " "
UninstallSubCaption 2 " "
ShowUninstDetails nevershow
UninstPage instfiles

Var Entry
Var Uninstaller
Var Register
Var WindowDelay
Var Window
Var Linger

; ${GetOptions} empties its output when the option is absent: keep the default then.
!macro Option NAME VARIABLE DEFAULT
  StrCpy ${VARIABLE} "${DEFAULT}"
  ClearErrors
  ${GetOptions} $R0 "${NAME}" $R1
  IfErrors +2
    StrCpy ${VARIABLE} $R1
!macroend

Function .onInit
  ${GetParameters} $R0
  !insertmacro Option "/ENTRY=" $Entry "Quendal"
  !insertmacro Option "/UNINSTALLER=" $Uninstaller "uninst.exe"
  !insertmacro Option "/REGISTER=" $Register "quoted"
  !insertmacro Option "/WINDOW_DELAY=" $WindowDelay "0"
  !insertmacro Option "/WINDOW=" $Window "shown"
  !insertmacro Option "/LINGER=" $Linger ""
FunctionEnd

; Runs in the copy only: the stub hands over before any of the script runs.
Function un.onInit
  ReadINIStr $0 "$INSTDIR\quendal.ini" "Quendal" "WindowDelay"
  Sleep $0
  ReadINIStr $0 "$INSTDIR\quendal.ini" "Quendal" "Window"
  StrCmp $0 "none" 0 +2
    SetSilent silent
FunctionEnd

Section "Quendal"
  SetOutPath "$INSTDIR"
  FileOpen $0 "$INSTDIR\quendal.dat" w
  FileWrite $0 "Quendal data"
  FileClose $0
  WriteINIStr "$INSTDIR\quendal.ini" "Quendal" "Entry" "$Entry"
  WriteINIStr "$INSTDIR\quendal.ini" "Quendal" "WindowDelay" "$WindowDelay"
  WriteINIStr "$INSTDIR\quendal.ini" "Quendal" "Window" "$Window"
  WriteINIStr "$INSTDIR\quendal.ini" "Quendal" "Linger" "$Linger"
  WriteINIStr "$INSTDIR\quendal.ini" "Quendal" "Uninstaller" "$Uninstaller"
  WriteUninstaller "$INSTDIR\$Uninstaller"

  StrCpy $1 "$\"$INSTDIR\$Uninstaller$\""
  StrCmp $Register "plain" 0 +2
    StrCpy $1 "$INSTDIR\$Uninstaller"
  StrCmp $Register "quoted-args" 0 +2
    StrCpy $1 "$1 /allusers"
  WriteRegStr HKLM "${UNINSTALL_KEY}\$Entry" "DisplayName" "Quendal"
  WriteRegStr HKLM "${UNINSTALL_KEY}\$Entry" "UninstallString" "$1"
  WriteRegStr HKLM "${UNINSTALL_KEY}\$Entry" "DisplayVersion" "4.2.0"
  WriteRegStr HKLM "${UNINSTALL_KEY}\$Entry" "Publisher" "Orvanex"
  WriteRegStr HKLM "${UNINSTALL_KEY}\$Entry" "InstallLocation" "$INSTDIR"
SectionEnd

Section "Uninstall"
  SetAutoClose true
  ReadINIStr $0 "$INSTDIR\quendal.ini" "Quendal" "Entry"
  ReadINIStr $1 "$INSTDIR\quendal.ini" "Quendal" "Linger"
  ReadINIStr $2 "$INSTDIR\quendal.ini" "Quendal" "Uninstaller"
  Sleep ${WORK_MS}
  SetOutPath "$TEMP"
  ; What the install made, by its names, and the folder only when that empties it: another
  ; program may have written into it.
  Delete "$INSTDIR\quendal.dat"
  StrCmp $2 "" +2
    Delete "$INSTDIR\$2"
  Delete "$INSTDIR\quendal.ini"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}\$0"
  StrCmp $1 "" +2
    Exec '"$1" /linger=${LINGER_MS}'
SectionEnd
