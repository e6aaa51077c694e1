; The command line's switches. $Parameters is what followed the program's name
; (NSIS has already taken /D= off its end). A switch with a value, such as
; /ORIGINS=, may hold anything in its value, even text that looks like another
; switch: it is taken out first (TakeValueSwitch), and the plain switches are
; looked for in what is left ($Switches), never inside a value.

Var Parameters   ; the command line after the program's name, as given
Var Switches     ; the same without the switches TakeValueSwitch took out
Var TakenValue   ; TakeValueSwitch's results: the value given last,
Var TakenCount   ; and how many times the switch was given

!macro CommandLineFunctions PREFIX
; 1 when the switch on the stack is in $Switches (in any case, with no value
; after it: /ALLUSERSX is not /ALLUSERS), else 0.
Function ${PREFIX}HasSwitch
  Exch $0
  Push $1
  ClearErrors
  ${GetOptions} $Switches $0 $1
  ${If} ${Errors}
  ${OrIf} $1 != ""
    StrCpy $0 0
  ${Else}
    StrCpy $0 1
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro CommandLineFunctions ""
!insertmacro CommandLineFunctions "un."

; Takes every NAME=VALUE token (NAME on the stack, with its "=", any case) out
; of $Switches, as Windows splits a command line: a token runs to the first
; blank outside double quotes, and the quotes are not part of it, so
; /ORIGINS="a b", "/ORIGINS=a b" and /ORIGINS=a are read alike. Sets
; $TakenValue (the last one) and $TakenCount.
Function TakeValueSwitch
  Exch $0   ; the name
  Push $1   ; position in $Switches
  Push $2   ; a character
  Push $3   ; 1 inside double quotes
  Push $4   ; where the token starts
  Push $5   ; the token without its quotes
  Push $6   ; $Switches without the tokens taken
  Push $7   ; the name's length
  StrLen $7 $0
  StrCpy $1 0
  StrCpy $6 ""
  StrCpy $TakenValue ""
  StrCpy $TakenCount 0
  ${Do}
    StrCpy $2 $Switches 1 $1
    ${If} $2 == ""
      ${Break}
    ${ElseIf} $2 == " "
    ${OrIf} $2 == "$\t"
      IntOp $1 $1 + 1
      ${Continue}
    ${EndIf}
    StrCpy $4 $1
    StrCpy $5 ""
    StrCpy $3 0
    ${Do}
      StrCpy $2 $Switches 1 $1
      ${If} $2 == ""
        ${Break}
      ${EndIf}
      ${If} $3 == 0
        ${If} $2 == " "
        ${OrIf} $2 == "$\t"
          ${Break}
        ${EndIf}
      ${EndIf}
      IntOp $1 $1 + 1
      ${If} $2 == '"'
        IntOp $3 1 - $3
      ${Else}
        StrCpy $5 "$5$2"
      ${EndIf}
    ${Loop}
    StrCpy $2 $5 $7
    ${If} $2 == $0
      StrCpy $TakenValue $5 "" $7
      IntOp $TakenCount $TakenCount + 1
    ${Else}
      IntOp $2 $1 - $4
      StrCpy $2 $Switches $2 $4
      ${If} $6 == ""
        StrCpy $6 $2
      ${Else}
        StrCpy $6 "$6 $2"
      ${EndIf}
    ${EndIf}
  ${Loop}
  StrCpy $Switches $6
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; NSIS keeps at most NSIS_MAX_STRLEN - 1 characters of its command line and
; cuts the rest off without a word; a list of origins cut short could still
; read as a list, only a different one. A command line that long is refused
; (one of NSIS_MAX_STRLEN - 1 characters may already be a cut one).
!define /math NSIS_MAX_STRLEN_USABLE ${NSIS_MAX_STRLEN} - 3
!macro RefuseLongCommandLine
  Push $0
  StrLen $0 $CMDLINE
  ${If} $0 > ${NSIS_MAX_STRLEN_USABLE}
    !insertmacro Fail ${EXIT_USAGE} "The command line is too long (at most ${NSIS_MAX_STRLEN_USABLE} characters reach the installer): nothing was changed."
  ${EndIf}
  Pop $0
!macroend
