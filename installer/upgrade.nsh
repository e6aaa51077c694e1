; Installing over an installed version: in the same scope, the installed
; version's own uninstaller removes it first (keeping the engine's data,
; which lives in each user's folder and is never touched by an upgrade);
; a newer version is replaced only when asked (/DOWNGRADE or the question).

Function RefuseDowngrade
  Push $0
  Push $1
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $0 != ""
    ${VersionCompare} "$0" "${VERSION}" $1
    ${If} $1 == 1
      Push "/DOWNGRADE"
      Call HasSwitch
      Pop $1
      ${If} $1 != 1
        MessageBox MB_YESNO|MB_ICONEXCLAMATION "${PRODUCT_NAME} $0 is installed, which is newer than ${VERSION}.$\r$\n$\r$\nReplace it with ${VERSION}?" /SD IDNO IDYES replace
        SetErrorLevel ${EXIT_NEWER}
        Quit
        replace:
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; The installed version's entry is read from the scope being installed alone:
; HKLM for all users (a run with administrator rights), HKCU for a per-user
; run with the user's own rights.
Function RemovePreviousVersion
  Push $0
  Push $1
  Push $2
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  StrCpy $1 1
  ${If} $InstallMode == AllUsers
  ${AndIf} $0 != ""
    !insertmacro IsProtectedFolder $1 $0
  ${EndIf}
  ${If} $1 != 1
    ; An older version installed for all users where users can change files:
    ; whatever is there now may be a user's, so it is neither run nor deleted
    ; with administrator rights. Its registration goes; the folder stays.
    DetailPrint "The installed version's folder $0 can be changed by users: its uninstaller is not run and its files stay"
    MessageBox MB_OK|MB_ICONINFORMATION "The installed version of ${PRODUCT_NAME} is in $0, a folder that users other than administrators can change. Its registration is replaced, but nothing in that folder is run or deleted with administrator rights: delete the folder yourself once you have checked it." /SD IDOK
    Push "$0"
    Call RemovePluginKeys
  ${ElseIf} $0 != ""
    ${If} ${FileExists} "$0\${UNINSTALLER}"
      !insertmacro RequireFilesNotInUse "$0"
      ${If} $InstallMode == AllUsers
        StrCpy $2 "/ALLUSERS"
      ${Else}
        StrCpy $2 "/CURRENTUSER"
      ${EndIf}
      DetailPrint "Removing the installed version from $0"
      ClearErrors
      ; _?= runs it in place and waits for it (it cannot delete itself then).
      ExecWait '"$0\${UNINSTALLER}" /S /UPGRADE $2 _?=$0' $1
      ${If} ${Errors}
      ${OrIf} $1 != 0
        !insertmacro Fail ${EXIT_PREVIOUS} "The installed version in $0 could not be removed (exit code $1)."
      ${EndIf}
      Delete "$0\${UNINSTALLER}"
      RMDir "$0"
    ${EndIf}
    ; A version whose uninstaller is gone leaves its plug-in key behind.
    Push "$0"
    Call RemovePluginKeys
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
