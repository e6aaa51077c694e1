; Per machine (Program Files, HKLM; needs administrator rights) or per user
; (the user's local application-data folder, HKCU): chosen on a page, or by
; /ALLUSERS or /CURRENTUSER; without either, where the installed version is,
; else per machine for administrators and per user for everyone else.

Var InstallMode   ; AllUsers or CurrentUser
Var IsAdmin       ; 1 when the account may install per machine
Var FolderGiven   ; 1 when /D= named the folder
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

; 1 when the switch on the stack is on the command line (in any case, with no
; value after it: /ALLUSERSX is not /ALLUSERS), else 0.
Function ${PREFIX}HasSwitch
  Exch $0
  Push $1
  ClearErrors
  ${GetOptions} $Parameters $0 $1
  ${If} ${Errors}
  ${OrIf} $1 != ""
    StrCpy $0 0
  ${Else}
    StrCpy $0 1
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

Function ${PREFIX}ReadAccount
  Push $0
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 == "Admin"
    StrCpy $IsAdmin 1
  ${Else}
    StrCpy $IsAdmin 0
  ${EndIf}
  Pop $0
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
    ${If} $IsAdmin != 1
      !insertmacro Fail ${EXIT_USAGE} "Only an administrator can do this for all users of the computer."
    ${EndIf}
    StrCpy $0 AllUsers
  ${ElseIf} $1 == 1
    StrCpy $0 CurrentUser
  ${Else}
    StrCpy $0 ""
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro InstallModeFunctions ""
!insertmacro InstallModeFunctions "un."

; The folder for the mode: the installed version's (an upgrade stays in
; place), else the mode's default; one given with /D= is kept.
Function DefaultFolder
  Push $0
  ${If} $FolderGiven != 1
    ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${ElseIf} $InstallMode == AllUsers
      StrCpy $INSTDIR "$PROGRAMFILES32\${VENDOR_FOLDER}\${PRODUCT_FOLDER}"
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\${VENDOR_FOLDER}\${PRODUCT_FOLDER}"
    ${EndIf}
  ${EndIf}
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
  ${If} $0 == ""
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} $IsAdmin == 1
      StrCpy $0 AllUsers
    ${ElseIf} $1 != ""
      StrCpy $0 CurrentUser
    ${ElseIf} $IsAdmin == 1
      StrCpy $0 AllUsers
    ${Else}
      StrCpy $0 CurrentUser
    ${EndIf}
  ${EndIf}
  ${If} $0 == AllUsers
    Call UseAllUsers
  ${Else}
    Call UseCurrentUser
  ${EndIf}
  Call DefaultFolder
  Pop $1
  Pop $0
FunctionEnd

; The uninstaller works in the scope whose entry names its folder, unless
; told (the entry's own UninstallString tells it).
Function un.ChooseInstallMode
  Push $0
  Push $1
  Call un.ReadAccount
  Call un.ModeFromSwitches
  Pop $0
  ${If} $0 == ""
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    !insertmacro SamePath $1 "$1" "$INSTDIR"
    ${If} $1 == 1
      StrCpy $0 AllUsers
    ${Else}
      ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
      !insertmacro SamePath $1 "$1" "$INSTDIR"
      ${If} $1 == 1
        StrCpy $0 CurrentUser
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $0 == AllUsers
    ${If} $IsAdmin != 1
      !insertmacro Fail ${EXIT_USAGE} "Only an administrator can remove ${PRODUCT_NAME} for all users of the computer."
    ${EndIf}
    Call un.UseAllUsers
  ${Else}
    Call un.UseCurrentUser
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; The page: shown to administrators only (anyone else can install per user alone).
Function InstallModePageShow
  Push $0
  ${If} $IsAdmin != 1
    Pop $0
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Choose users" "Install ${PRODUCT_NAME} for every user of this computer, or for you alone."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "Browsers of the users you choose will find the plug-in. Its download engine keeps each user's settings and downloads apart either way."
  Pop $0
  ${NSD_CreateRadioButton} 10u 34u -10u 12u "For all users of this computer (in Program Files)"
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
  ${Else}
    Call UseCurrentUser
  ${EndIf}
  Call DefaultFolder
  Call RefuseDowngrade
  Pop $0
FunctionEnd
