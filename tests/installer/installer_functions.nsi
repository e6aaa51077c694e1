; The installer's own functions, built into a program of their own (64-bit, so
; that it runs under wine64 on the build machine) that answers one line per
; case. package_test.py builds and runs it:
;
;   makensis -DINSTALLER_DIR=<installer/> -DOUT_FILE=<exe> installer_functions.nsi
;   installer_functions.exe CASES RESULTS
;
; CASES and RESULTS are UTF-16LE, one case (and one answer) a line, fields
; separated by a tab:
;   origins LIST              ok NORMALIZED  |  refused SENTENCE
;   switches COMMAND_LINE     the /ORIGINS= count, its value, the rest, /ALLUSERS
;   protected FOLDER          1 | 0
;   elevated FILE PARAMETERS  the exit code, or "not started"
;   account                   1 with administrator rights, else 0
;   roots                     the two Program Files folders it knows

Unicode true
Target amd64-unicode
RequestExecutionLevel user
SilentInstall silent
OutFile "${OUT_FILE}"

!include LogicLib.nsh
!include FileFunc.nsh

!include "${INSTALLER_DIR}\command_line.nsh"
!include "${INSTALLER_DIR}\origin_list.nsh"
!include "${INSTALLER_DIR}\paths.nsh"
!include "${INSTALLER_DIR}\elevation.nsh"

; Splits $R0 at its first tab: $R1 the part before, $R0 the rest ("" without a tab).
Function SplitAtTab
  Push $0
  Push $1
  StrCpy $0 0
  ${Do}
    StrCpy $1 $R0 1 $0
    ${If} $1 == ""
      StrCpy $R1 $R0
      StrCpy $R0 ""
      ${Break}
    ${ElseIf} $1 == "$\t"
      StrCpy $R1 $R0 $0
      IntOp $0 $0 + 1
      StrCpy $R0 $R0 "" $0
      ${Break}
    ${EndIf}
    IntOp $0 $0 + 1
  ${Loop}
  Pop $1
  Pop $0
FunctionEnd

Section
  ${GetParameters} $R9
  ${GetOptions} $R9 "/CASES=" $R8
  ${GetOptions} $R9 "/RESULTS=" $R7
  FileOpen $8 $R8 r
  FileOpen $9 $R7 w
  FileWriteUTF16LE /BOM $9 ""
  ${Do}
    ClearErrors
    FileReadUTF16LE $8 $R0
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    ; Without the line's end.
    ${Do}
      StrCpy $0 $R0 1 -1
      ${If} $0 != "$\n"
      ${AndIf} $0 != "$\r"
        ${Break}
      ${EndIf}
      StrCpy $R0 $R0 -1
    ${Loop}
    Call SplitAtTab
    ${If} $R1 == "origins"
      Push $R0
      Call CheckOriginList
      ${If} $OriginsProblem == ""
        StrCpy $R2 "ok$\t$OriginsNormal"
      ${Else}
        StrCpy $R2 "refused$\t$OriginsProblem"
      ${EndIf}
    ${ElseIf} $R1 == "switches"
      StrCpy $Switches $R0
      Push "/ORIGINS="
      Call TakeValueSwitch
      Push "/ALLUSERS"
      Call HasSwitch
      Pop $0
      StrCpy $R2 "$TakenCount$\t$TakenValue$\t$Switches$\t$0"
    ${ElseIf} $R1 == "protected"
      !insertmacro IsProtectedFolder $R2 $R0
    ${ElseIf} $R1 == "elevated"
      Call SplitAtTab
      Push $R1
      Push $R0
      Call RunElevated
      Pop $R2
      ${If} $R2 == ""
        StrCpy $R2 "not started"
      ${EndIf}
    ${ElseIf} $R1 == "account"
      Call ReadAccount
      StrCpy $R2 $IsAdmin
    ${ElseIf} $R1 == "roots"
      StrCpy $R2 "$PROGRAMFILES32$\t$PROGRAMFILES64"
    ${Else}
      StrCpy $R2 "unknown case $R1"
    ${EndIf}
    FileWriteUTF16LE $9 "$R2$\r$\n"
  ${Loop}
  FileClose $8
  FileClose $9
SectionEnd
