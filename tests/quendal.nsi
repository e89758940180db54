; Quendal as a real installer engine builds it, for the tests and the demo. Installed silently:
;   quendal_setup.exe /S [/ENTRY=KEY] [/UNINSTALLER=NAME] [/REGISTER=FORM] [/D=FOLDER]
; FORM is how the entry names the uninstaller: plain (C:\...\NAME), quoted ("C:\...\NAME", the
; default) or quoted-args ("C:\...\NAME" /allusers). The uninstaller is the engine's own: its
; stub copies itself to %TEMP%, starts the copy and ends at once; the copy shows its window,
; works WORK_MS milliseconds, and removes the files, the folder and the entry.
Unicode true
!include FileFunc.nsh

!ifndef OUTFILE
  !define OUTFILE quendal_setup.exe
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define WORK_MS 1500

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
FunctionEnd

Section "Quendal"
  SetOutPath "$INSTDIR"
  FileOpen $0 "$INSTDIR\quendal.dat" w
  FileWrite $0 "Quendal data"
  FileClose $0
  WriteINIStr "$INSTDIR\quendal.ini" "Quendal" "Entry" "$Entry"
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
  Sleep ${WORK_MS}
  RMDir /r "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}\$0"
SectionEnd
