; Paths: whether two name the same file or folder, and whether a folder is
; one that only administrators can change.

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

; 1 when FOLDER lies below Program Files (the 32-bit or the 64-bit one),
; where only administrators can create or change files, else 0. A per-machine
; install goes nowhere else: nobody could then put a DLL beside the module or
; the engine, or an uninstaller where an administrator would run it. The name
; is made absolute first ("." and ".." resolved), so that a name which merely
; begins like Program Files does not pass; an 8.3 short name does not either.
!macro ProtectedFolderFunction PREFIX
Function ${PREFIX}IsBelow
  Exch $0   ; the root
  Exch
  Exch $1   ; the folder, absolute, without a trailing backslash
  Push $2
  StrLen $2 "$0\"
  StrCpy $2 $1 $2
  ${If} $2 == "$0\"
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

Function ${PREFIX}IsProtectedFolder
  Exch $0
  Push $1
  StrCpy $1 $0 2 1
  ${If} $1 != ":\"
    StrCpy $0 0
  ${Else}
    ; (NSIS's own GetFullPathName answers nothing for a folder not yet there.)
    System::Call 'kernel32::GetFullPathNameW(w r0, i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r0'
    ${If} $0 <= 0
    ${OrIf} $0 >= ${NSIS_MAX_STRLEN}
      StrCpy $1 ""
    ${EndIf}
    StrCpy $0 $1
    ${Do}
      StrCpy $1 $0 1 -1
      ${If} $1 != "\"
        ${Break}
      ${EndIf}
      StrCpy $0 $0 -1
    ${Loop}
    StrCpy $1 $0
    Push $1
    Push $PROGRAMFILES32
    Call ${PREFIX}IsBelow
    Pop $0
    ${If} $0 != 1
      Push $1
      Push $PROGRAMFILES64
      Call ${PREFIX}IsBelow
      Pop $0
    ${EndIf}
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro ProtectedFolderFunction ""
!insertmacro ProtectedFolderFunction "un."

!macro IsProtectedFolder RESULT FOLDER
  Push "${FOLDER}"
  !ifdef __UNINSTALL__
    Call un.IsProtectedFolder
  !else
    Call IsProtectedFolder
  !endif
  Pop ${RESULT}
!macroend
