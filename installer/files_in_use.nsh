; A DLL that a running program (a browser) has loaded cannot be replaced or
; deleted: find that out before anything changes, rather than half-way.

!macro FilesNotInUseFunction PREFIX
Function ${PREFIX}FilesNotInUse
  Exch $0   ; the folder
  Push $1
  Push $2
  retry:
  StrCpy $1 ""
  ${If} ${FileExists} "$0\halvo_plugin.dll"
    ClearErrors
    ; Opening a mapped image for writing fails while it is loaded.
    FileOpen $2 "$0\halvo_plugin.dll" a
    ${If} ${Errors}
      StrCpy $1 "$0\halvo_plugin.dll"
    ${Else}
      FileClose $2
    ${EndIf}
  ${EndIf}
  ${If} $1 == ""
  ${AndIf} ${FileExists} "$0\halvo_engine.dll"
    ClearErrors
    FileOpen $2 "$0\halvo_engine.dll" a
    ${If} ${Errors}
      StrCpy $1 "$0\halvo_engine.dll"
    ${Else}
      FileClose $2
    ${EndIf}
  ${EndIf}
  ${If} $1 != ""
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$1 is in use.$\r$\n$\r$\nClose every browser and program that uses ${PRODUCT_NAME}, then retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_IN_USE}
    Quit
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro FilesNotInUseFunction ""
!insertmacro FilesNotInUseFunction "un."

!macro RequireFilesNotInUse FOLDER
  Push "${FOLDER}"
  !ifdef __UNINSTALL__
    Call un.FilesNotInUse
  !else
    Call FilesNotInUse
  !endif
!macroend
