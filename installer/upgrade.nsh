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

Function RemovePreviousVersion
  Push $0
  Push $1
  Push $2
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
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
