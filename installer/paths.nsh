; Whether two paths name the same file or folder.

; Plain string comparison is case-insensitive; the short forms also match a
; folder named through its 8.3 name.
!macro SamePathFunction PREFIX
Function ${PREFIX}SamePath
  Exch $0   ; one path
  Exch
  Exch $1   ; the other
  Push $2
  Push $3
  ${If} $0 == $1
    StrCpy $0 1
  ${Else}
    GetFullPathName /SHORT $2 "$0"
    GetFullPathName /SHORT $3 "$1"
    ${If} $2 != ""
    ${AndIf} $2 == $3
      StrCpy $0 1
    ${Else}
      StrCpy $0 0
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro SamePathFunction ""
!insertmacro SamePathFunction "un."

!macro SamePath RESULT A B
  Push "${A}"
  Push "${B}"
  !ifdef __UNINSTALL__
    Call un.SamePath
  !else
    Call SamePath
  !endif
  Pop ${RESULT}
!macroend
