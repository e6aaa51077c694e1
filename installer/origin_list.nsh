; Whether a list of allowed origins reads as the plug-in reads it
; (transfer/origin.h): entries separated by blanks, each scheme://host[:port]
; for http or https, without user name, path, query or fragment; the host a
; name of letters, digits, "-" and "_" in dot-separated labels, or an IPv6
; address in brackets; the host may begin with "*." (any subdomain) and the
; port may be "*" (any port). The plug-in leaves out an entry it cannot read
; without a word, so the site it was meant for would stay locked out: the
; installer refuses such a list instead, naming the entry and what is wrong.
; tests/installer/package_test.py holds the two parsers to the same verdicts.
;
;   Push LIST
;   Call CheckOriginList
; sets $OriginsProblem ("" when every entry is well formed, else a sentence
; about the first one that is not) and $OriginsNormal (the entries separated
; by one space each; "" for a blank list).

Var OriginsProblem
Var OriginsNormal

!define ORIGIN_LETTERS "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
!define ORIGIN_DIGITS "0123456789"
!define ORIGIN_HOST_CHARACTERS "${ORIGIN_LETTERS}${ORIGIN_DIGITS}-_"

; Pushes 1 when every character of TEXT is one of ALLOWED (compared exactly,
; never by locale or case), else 0.
;   Push TEXT
;   Push ALLOWED
Function OriginOnlyOf
  Exch $0   ; allowed
  Exch
  Exch $1   ; text
  Push $2
  Push $3
  Push $4
  Push $5
  StrCpy $2 0
  ${Do}
    StrCpy $3 $1 1 $2
    ${If} $3 == ""
      StrCpy $0 1
      ${Break}
    ${EndIf}
    StrCpy $4 0
    ${Do}
      StrCpy $5 $0 1 $4
      ${If} $5 == ""
      ${OrIf} $5 S== $3
        ${Break}
      ${EndIf}
      IntOp $4 $4 + 1
    ${Loop}
    ${If} $5 == ""
      StrCpy $0 0
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
  ${Loop}
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

!macro OriginOnlyOf RESULT TEXT ALLOWED
  Push "${TEXT}"
  Push "${ALLOWED}"
  Call OriginOnlyOf
  Pop ${RESULT}
!macroend

; Pushes the position of the first CHARACTER in TEXT, or -1.
Function OriginFind
  Exch $0   ; the character
  Exch
  Exch $1   ; the text
  Push $2
  Push $3
  StrCpy $2 0
  ${Do}
    StrCpy $3 $1 1 $2
    ${If} $3 == ""
      StrCpy $2 -1
      ${Break}
    ${ElseIf} $3 S== $0
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
  ${Loop}
  StrCpy $0 $2
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

!macro OriginFind RESULT TEXT CHARACTER
  Push "${TEXT}"
  Push "${CHARACTER}"
  Call OriginFind
  Pop ${RESULT}
!macroend

; Pushes "" when the host name is well formed, else what is wrong with it.
Function OriginCheckHostName
  Exch $0
  Push $1
  ${If} $0 == ""
    StrCpy $0 "has no host"
  ${Else}
    !insertmacro OriginOnlyOf $1 "$0" "${ORIGIN_HOST_CHARACTERS}."
    ${If} $1 != 1
      !insertmacro OriginFind $1 "$0" "*"
      ${If} $1 >= 0
        StrCpy $0 'has a "*" inside its host: "*." may only begin the host (https://*.example.com)'
      ${Else}
        StrCpy $0 "has a character no host name holds (a name in other letters goes in its xn-- form)"
      ${EndIf}
    ${Else}
      StrCpy $1 $0 1
      ${If} $1 == "."
        StrCpy $0 "has a host with an empty label"
      ${Else}
        StrCpy $1 $0 1 -1
        ${If} $1 == "."
          StrCpy $0 "has a host with an empty label"
        ${Else}
          ; No ".." anywhere.
          Push $2
          Push $3
          StrCpy $2 0
          StrCpy $3 ""
          ${Do}
            StrCpy $1 $0 2 $2
            ${If} $1 == ""
              ${Break}
            ${ElseIf} $1 == ".."
              StrCpy $3 "has a host with an empty label"
              ${Break}
            ${EndIf}
            IntOp $2 $2 + 1
          ${Loop}
          StrCpy $0 $3
          Pop $3
          Pop $2
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

; Pushes "" when PORT (the text after the colon) is "*" or 1 to 65535 in at
; most five digits, else what is wrong.
Function OriginCheckPort
  Exch $0
  Push $1
  StrLen $1 $0
  ${If} $0 == "*"
    StrCpy $0 ""
  ${ElseIf} $1 < 1
  ${OrIf} $1 > 5
    StrCpy $0 "has no valid port (1 to 65535, or * for any port)"
  ${Else}
    !insertmacro OriginOnlyOf $1 "$0" "${ORIGIN_DIGITS}"
    ${If} $1 != 1
      StrCpy $0 "has no valid port (1 to 65535, or * for any port)"
    ${Else}
      ; Without its leading zeros: IntOp would read "0080" as octal.
      ${Do}
        StrCpy $1 $0 1
        ${If} $1 != "0"
          ${Break}
        ${EndIf}
        StrCpy $0 $0 "" 1
      ${Loop}
      ${If} $0 == ""
      ${OrIf} $0 > 65535
        StrCpy $0 "has no valid port (1 to 65535, or * for any port)"
      ${Else}
        StrCpy $0 ""
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

; Pushes "" when ENTRY is an origin the plug-in reads, else what is wrong.
Function OriginCheckEntry
  Exch $0   ; the entry, then the answer
  Push $1   ; the rest after the scheme
  Push $2
  Push $3   ; the host
  Push $4   ; the port, when there is a colon
  Push $5   ; 1 when there is a port
  StrCpy $5 0
  ; Only characters an origin entry can hold at all (ASCII, compared exactly).
  !insertmacro OriginOnlyOf $2 "$0" "${ORIGIN_HOST_CHARACTERS}.:/*[]"
  ${If} $2 != 1
    !insertmacro OriginFind $2 "$0" "@"
    ${If} $2 >= 0
      StrCpy $0 "has a user name: an origin is scheme://host[:port] alone"
    ${Else}
      Push $0
      Push "?"
      Call OriginFind
      Pop $3
      Push $0
      Push "#"
      Call OriginFind
      Pop $4
      ${If} $3 >= 0
      ${OrIf} $4 >= 0
        StrCpy $0 "has a query or fragment: an origin is scheme://host[:port] alone"
      ${Else}
        StrCpy $0 "has a character no origin holds (a name in other letters goes in its xn-- form)"
      ${EndIf}
    ${EndIf}
    Goto done
  ${EndIf}
  StrCpy $1 $0 8
  StrCpy $2 $0 7
  ${If} $1 == "https://"
    StrCpy $1 $0 "" 8
  ${ElseIf} $2 == "http://"
    StrCpy $1 $0 "" 7
  ${Else}
    StrCpy $0 "is not an http:// or https:// origin: only web pages can be allowed"
    Goto done
  ${EndIf}
  !insertmacro OriginFind $2 "$1" "/"
  ${If} $2 >= 0
    StrCpy $0 "has a path: an origin ends after its host or port (https://example.com, not https://example.com/)"
    Goto done
  ${EndIf}
  StrCpy $2 $1 2
  ${If} $2 == "*."
    StrCpy $1 $1 "" 2
    StrCpy $2 $1 1
    ${If} $2 == "["
      StrCpy $0 'has "*." before an IPv6 address, which has no subdomains'
      Goto done
    ${EndIf}
  ${EndIf}
  StrCpy $2 $1 1
  ${If} $2 == "["
    !insertmacro OriginFind $2 "$1" "]"
    ${If} $2 < 0
      StrCpy $0 "has an IPv6 address without its closing bracket"
      Goto done
    ${EndIf}
    IntOp $3 $2 - 1
    StrCpy $3 $1 $3 1
    !insertmacro OriginOnlyOf $4 "$3" "${ORIGIN_DIGITS}abcdefABCDEF:."
    !insertmacro OriginFind $5 "$3" ":"
    ${If} $4 != 1
    ${OrIf} $5 < 0
      StrCpy $0 "has no IPv6 address inside its brackets"
      Goto done
    ${EndIf}
    StrCpy $5 0
    IntOp $2 $2 + 1
    StrCpy $4 $1 "" $2
    ${If} $4 != ""
      StrCpy $2 $4 1
      ${If} $2 != ":"
        StrCpy $0 "has something other than a port after its IPv6 address"
        Goto done
      ${EndIf}
      StrCpy $4 $4 "" 1
      StrCpy $5 1
    ${EndIf}
  ${Else}
    !insertmacro OriginFind $2 "$1" ":"
    ${If} $2 >= 0
      StrCpy $3 $1 $2
      IntOp $2 $2 + 1
      StrCpy $4 $1 "" $2
      StrCpy $5 1
    ${Else}
      StrCpy $3 $1
    ${EndIf}
    Push $3
    Call OriginCheckHostName
    Pop $2
    ${If} $2 != ""
      StrCpy $0 $2
      Goto done
    ${EndIf}
  ${EndIf}
  StrCpy $0 ""
  ${If} $5 == 1
    Push $4
    Call OriginCheckPort
    Pop $0
  ${EndIf}
  done:
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

Function CheckOriginList
  Exch $0   ; the list
  Push $1   ; position
  Push $2   ; a character
  Push $3   ; the entry
  StrCpy $OriginsProblem ""
  StrCpy $OriginsNormal ""
  StrCpy $1 0
  StrCpy $3 ""
  ${Do}
    StrCpy $2 $0 1 $1
    IntOp $1 $1 + 1
    ${If} $2 == " "
    ${OrIf} $2 == "$\t"
    ${OrIf} $2 == ""
      ${If} $3 != ""
        Push $3
        Call OriginCheckEntry
        Pop $OriginsProblem
        ${If} $OriginsProblem != ""
          StrCpy $OriginsProblem '"$3" $OriginsProblem.'
          StrCpy $OriginsNormal ""
          ${Break}
        ${EndIf}
        ${If} $OriginsNormal == ""
          StrCpy $OriginsNormal $3
        ${Else}
          StrCpy $OriginsNormal "$OriginsNormal $3"
        ${EndIf}
        StrCpy $3 ""
      ${EndIf}
      ${If} $2 == ""
        ${Break}
      ${EndIf}
    ${Else}
      StrCpy $3 "$3$2"
    ${EndIf}
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
