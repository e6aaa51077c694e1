; Per machine (Program Files, HKLM) or per user (the user's local
; application-data folder, HKCU), and the rights each needs. A run with
; administrator rights works for the machine alone: it never takes an install
; folder or an uninstaller's path from HKEY_CURRENT_USER, where any program of
; the user can write, and never runs or deletes anything in a folder a user
; can change. A per-user install runs with the user's own rights only.
;
; The mode: /ALLUSERS or /CURRENTUSER; without either, where the installed
; version is (a run without rights looks at the user's own install first),
; else per machine with administrator rights and per user without them. A run
; without rights shows a page with both; "all users" starts the installer
; again through Windows' consent prompt (elevation.nsh).

Var InstallMode   ; AllUsers or CurrentUser
Var FolderGiven   ; 1 when /D= named the folder
Var ModeGiven     ; 1 when a switch chose the mode
Var RadioAllUsers
Var RadioCurrentUser

!macro InstallModeFunctions PREFIX
Function ${PREFIX}UseAllUsers
  StrCpy $InstallMode AllUsers
  SetShellVarContext all
FunctionEnd

Function ${PREFIX}UseCurrentUser
  StrCpy $InstallMode CurrentUser
  SetShellVarContext current
FunctionEnd

; The mode the switches ask for: AllUsers, CurrentUser or "" (neither).
Function ${PREFIX}ModeFromSwitches
  Push $0
  Push $1
  Push "/ALLUSERS"
  Call ${PREFIX}HasSwitch
  Pop $0
  Push "/CURRENTUSER"
  Call ${PREFIX}HasSwitch
  Pop $1
  ${If} $0 == 1
  ${AndIf} $1 == 1
    !insertmacro Fail ${EXIT_USAGE} "Give /ALLUSERS or /CURRENTUSER, not both."
  ${EndIf}
  ${If} $0 == 1
    StrCpy $0 AllUsers
  ${ElseIf} $1 == 1
    StrCpy $0 CurrentUser
  ${Else}
    StrCpy $0 ""
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

; A run that was started again to get administrator rights (/ELEVATED) and
; still has none ends here: it would only start itself once more.
Function ${PREFIX}RefuseUnelevatedRestart
  Push $0
  Push "/ELEVATED"
  Call ${PREFIX}HasSwitch
  Pop $0
  ${If} $0 == 1
    !insertmacro Fail ${EXIT_USAGE} "Windows did not give this run administrator rights, which ${PRODUCT_NAME} for all users needs. Nothing was changed."
  ${EndIf}
  Pop $0
FunctionEnd
!macroend
!insertmacro InstallModeFunctions ""
!insertmacro InstallModeFunctions "un."

; The folder for the mode: the installed version's (an upgrade stays in
; place), else the mode's default; one given with /D= is kept. For all users,
; an installed version's folder that users can change is not used again.
Function DefaultFolder
  Push $0
  Push $1
  ${If} $FolderGiven != 1
    ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $InstallMode == AllUsers
    ${AndIf} $0 != ""
      !insertmacro IsProtectedFolder $1 $0
      ${If} $1 != 1
        StrCpy $0 ""
      ${EndIf}
    ${EndIf}
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${ElseIf} $InstallMode == AllUsers
      StrCpy $INSTDIR "$PROGRAMFILES32\${VENDOR_FOLDER}\${PRODUCT_FOLDER}"
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\${VENDOR_FOLDER}\${PRODUCT_FOLDER}"
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

!define PROTECTED_FOLDER_RULE "For all users, ${PRODUCT_NAME} goes only into a folder below Program Files ($PROGRAMFILES32), where no one but an administrator can change its files"

; Ends the run (or, with REFUSE set to Abort, stays on the page) unless the
; folder of an install for all users is one that only administrators can change.
!macro RequireProtectedFolder REFUSE
  ${If} $InstallMode == AllUsers
    Push $0
    !insertmacro IsProtectedFolder $0 $INSTDIR
    ${If} $0 != 1
      !if "${REFUSE}" == "Abort"
        MessageBox MB_OK|MB_ICONEXCLAMATION "${PROTECTED_FOLDER_RULE}: $INSTDIR is not one."
        Pop $0
        Abort
      !else
        !insertmacro Fail ${EXIT_USAGE} "${PROTECTED_FOLDER_RULE}: $INSTDIR is not one. Nothing was changed."
      !endif
    ${EndIf}
    Pop $0
  ${EndIf}
!macroend

; Starts this installer again, for all users, through the consent prompt and
; ends with its exit code; returns only when it did not start.
Function RestartAsAdministrator
  Push $0
  Push $1
  StrCpy $1 "/ALLUSERS /ELEVATED $Parameters"
  ${If} $FolderGiven == 1
    ; /D= stays last, unquoted, as NSIS wants it.
    StrCpy $1 "$1 /D=$INSTDIR"
  ${EndIf}
  Push "$EXEPATH"
  Push $1
  Call RunElevated
  Pop $0
  ${If} $0 != ""
    SetErrorLevel $0
    Quit
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

Function ChooseInstallMode
  Push $0
  Push $1
  Call ReadAccount
  ${If} $INSTDIR != ""
    StrCpy $FolderGiven 1
  ${EndIf}
  Call ModeFromSwitches
  Pop $0
  StrCpy $ModeGiven 1
  ${If} $0 == ""
    StrCpy $ModeGiven 0
    ${If} $IsAdmin == 1
      StrCpy $0 AllUsers
    ${Else}
      ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
      ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
      ${If} $0 != ""
        StrCpy $0 CurrentUser
      ${ElseIf} $1 != ""
        StrCpy $0 AllUsers
      ${Else}
        StrCpy $0 CurrentUser
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $0 == AllUsers
    Call UseAllUsers
  ${Else}
    Call UseCurrentUser
  ${EndIf}
  Call DefaultFolder

  ${If} $InstallMode == CurrentUser
  ${AndIf} $IsAdmin == 1
    !insertmacro Fail ${EXIT_USAGE} "A per-user install runs with your own rights, not an administrator's: start the installer without administrator rights, or give /ALLUSERS to install for all users. Nothing was changed."
  ${EndIf}
  ${If} $InstallMode == AllUsers
  ${AndIf} $IsAdmin != 1
    Call RefuseUnelevatedRestart
    ${If} ${Silent}
      !insertmacro Fail ${EXIT_USAGE} "Installing for all users needs administrator rights: run the installer as administrator, or give /CURRENTUSER to install for yourself alone. Nothing was changed."
    ${EndIf}
    ${If} $ModeGiven == 1
      Call RestartAsAdministrator
      !insertmacro Fail ${EXIT_USAGE} "Windows did not give administrator rights, which installing for all users needs. Nothing was changed."
    ${EndIf}
    ; Otherwise the page offers both.
  ${EndIf}
  ${If} $FolderGiven == 1
    !insertmacro RequireProtectedFolder Fail
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; The uninstaller works for the machine when the machine's entry names its
; folder (or /ALLUSERS says so), else for its user; with the rights that mode
; has: an uninstall for all users started without them hands over to the
; machine's own uninstaller, below Program Files, through the consent prompt.
Function un.ChooseInstallMode
  Push $0
  Push $1
  Push $2
  Call un.ReadAccount
  Call un.ModeFromSwitches
  Pop $0
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  StrCpy $2 0
  ${If} $1 != ""
    !insertmacro SamePath $2 "$1" "$INSTDIR"
  ${EndIf}
  ${If} $0 == ""
    ${If} $2 == 1
      StrCpy $0 AllUsers
    ${Else}
      StrCpy $0 CurrentUser
    ${EndIf}
  ${EndIf}
  ${If} $0 == CurrentUser
    ${If} $IsAdmin == 1
      !insertmacro Fail ${EXIT_USAGE} "A per-user installation is removed by its user, with that user's own rights: start the uninstaller without administrator rights. Nothing was changed."
    ${EndIf}
    Call un.UseCurrentUser
  ${Else}
    ${If} $2 != 1
      !insertmacro Fail ${EXIT_USAGE} "This uninstaller in $INSTDIR is not the one of ${PRODUCT_NAME} for all users. Nothing was changed."
    ${EndIf}
    !insertmacro IsProtectedFolder $2 $INSTDIR
    ${If} $2 != 1
      !insertmacro Fail ${EXIT_USAGE} "${PRODUCT_NAME} for all users is in $INSTDIR, which users other than administrators can change: its files are not removed with administrator rights. Nothing was changed."
    ${EndIf}
    Push "/REMOVEDATA"
    Call un.HasSwitch
    Pop $2
    ${If} $2 == 1
      !insertmacro Fail ${EXIT_USAGE} "/REMOVEDATA removes a user's own settings and task lists, which an uninstall for all users never touches: it runs with administrator rights, and they lie in each user's folder. Nothing was changed."
    ${EndIf}
    ${If} $IsAdmin != 1
      Call un.RefuseUnelevatedRestart
      ${If} ${Silent}
        !insertmacro Fail ${EXIT_USAGE} "Removing ${PRODUCT_NAME} for all users needs administrator rights: run the uninstaller as administrator. Nothing was changed."
      ${EndIf}
      ; Not this copy in the user's Temp folder: the one the machine's entry names.
      Push "$1\${UNINSTALLER}"
      Push "/ALLUSERS /ELEVATED"
      Call un.RunElevated
      Pop $0
      ${If} $0 == ""
        !insertmacro Fail ${EXIT_USAGE} "Windows did not give administrator rights, which removing ${PRODUCT_NAME} for all users needs. Nothing was changed."
      ${EndIf}
      SetErrorLevel $0
      Quit
    ${EndIf}
    Call un.UseAllUsers
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; The page: for a run without administrator rights and without a mode switch
; (a run with the rights installs for all users alone).
Function InstallModePageShow
  Push $0
  ${If} $IsAdmin == 1
  ${OrIf} $ModeGiven == 1
    Pop $0
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Choose users" "Install ${PRODUCT_NAME} for every user of this computer, or for you alone."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "Browsers of the users you choose will find the plug-in. Its download engine keeps each user's settings and downloads apart either way."
  Pop $0
  ${NSD_CreateRadioButton} 10u 34u -10u 12u "For all users of this computer (in Program Files; Windows asks for administrator rights)"
  Pop $RadioAllUsers
  ${NSD_CreateRadioButton} 10u 52u -10u 12u "Only for me (in my local application-data folder)"
  Pop $RadioCurrentUser
  ${If} $InstallMode == AllUsers
    ${NSD_Check} $RadioAllUsers
  ${Else}
    ${NSD_Check} $RadioCurrentUser
  ${EndIf}
  nsDialogs::Show
  Pop $0
FunctionEnd

Function InstallModePageLeave
  Push $0
  ${NSD_GetState} $RadioAllUsers $0
  ${If} $0 == ${BST_CHECKED}
    Call UseAllUsers
    Call DefaultFolder
    Call RestartAsAdministrator
    MessageBox MB_OK|MB_ICONEXCLAMATION "Windows did not give administrator rights, which installing for all users needs. Install for yourself alone, or try again."
    Pop $0
    Abort
  ${EndIf}
  Call UseCurrentUser
  Call DefaultFolder
  Call RefuseDowngrade
  Pop $0
FunctionEnd
