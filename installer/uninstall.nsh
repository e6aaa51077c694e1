; What only the uninstaller does beyond undoing the registration.

; The vendor folder above the default one, when the install went there and
; nothing else is left in it (the engine's data folder, for a per-user install).
Function un.RemoveDefaultParent
  Push $0
  Push $1
  ${If} $InstallMode == AllUsers
    StrCpy $0 "$PROGRAMFILES32\${VENDOR_FOLDER}"
  ${Else}
    StrCpy $0 "$LOCALAPPDATA\${VENDOR_FOLDER}"
  ${EndIf}
  !insertmacro SamePath $1 "$0\${PRODUCT_FOLDER}" "$INSTDIR"
  ${If} $1 == 1
    RMDir "$0"
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; The engine's settings and journal: in the folder of the user who runs the
; uninstaller, for a per-user install alone (a run for all users has
; administrator rights, which never delete in a user's folder; other users'
; folders are theirs anyway). The named files alone, so that nothing else that
; happens to be there goes with them.
!macro RemoveEngineFile NAME
  Delete "$0\${NAME}"
  Delete "$0\${NAME}.new"
  Delete "$0\${NAME}.damaged"
!macroend

Function un.RemoveEngineData
  ${If} $InstallMode != CurrentUser
    Return
  ${EndIf}
  Push $0
  StrCpy $0 "$LOCALAPPDATA\${ENGINE_DATA_FOLDER}"
  DetailPrint "Removing the download engine's settings and task list from $0"
  !insertmacro RemoveEngineFile "settings.txt"
  !insertmacro RemoveEngineFile "work.journal"
  !insertmacro RemoveEngineFile "work.log"
  !insertmacro RemoveEngineFile "finished.journal"
  Delete "$0\engine.lock"
  RMDir "$0"
  RMDir "$LOCALAPPDATA\${VENDOR_FOLDER}"
  Pop $0
FunctionEnd
