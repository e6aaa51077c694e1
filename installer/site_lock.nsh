; The site lock's list: the origins whose pages may use the plug-in, the value
; AllowedOrigins (REG_SZ) of Software\Halvo\Transfer Plugin in the scope being
; installed (HKLM per machine, HKCU per user; the 32-bit view, which the
; 32-bit module reads). Given by /ORIGINS="..." or on the page; without either
; the value in place is kept (an upgrade keeps it), and a fresh install writes
; none, so that the plug-in's default holds (pages from this computer). An
; empty list removes the value. The uninstaller removes it, except for an
; upgrade.

!define SITE_LOCK_PARENT "Software\Halvo"
!define SITE_LOCK_KEY "${SITE_LOCK_PARENT}\Transfer Plugin"
!define ALLOWED_ORIGINS "AllowedOrigins"

Var Origins        ; the list to leave (entries separated by one space)
Var OriginsGiven   ; 1: $Origins is written, or the value removed when it is empty
Var OriginsField
Var OriginsShown   ; what the page's field held when it was shown

; In .onInit, before anything else: a list that the plug-in would not read
; as given ends the run with nothing changed.
Function ReadOriginsSwitch
  StrCpy $OriginsGiven 0
  Push "/ORIGINS="
  Call TakeValueSwitch
  ${If} $TakenCount > 1
    !insertmacro Fail ${EXIT_USAGE} "Give /ORIGINS= once. Nothing was changed."
  ${ElseIf} $TakenCount == 1
    Push $TakenValue
    Call CheckOriginList
    ${If} $OriginsProblem != ""
      !insertmacro Fail ${EXIT_USAGE} "/ORIGINS: $OriginsProblem$\r$\n$\r$\nEach entry is an origin such as https://downloads.example.com, https://*.example.com (its subdomains) or http://localhost:* (any port). Nothing was changed."
    ${EndIf}
    StrCpy $Origins $OriginsNormal
    StrCpy $OriginsGiven 1
  ${EndIf}
FunctionEnd

Function OriginsPageShow
  Push $0
  Push $1
  ${If} $OriginsGiven == 1
    StrCpy $1 $Origins
  ${Else}
    ReadRegStr $1 SHCTX "${SITE_LOCK_KEY}" "${ALLOWED_ORIGINS}"
  ${EndIf}
  StrCpy $OriginsShown $1
  !insertmacro MUI_HEADER_TEXT "Allowed sites" "Choose the web sites whose pages may use ${PRODUCT_NAME}."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 40u "Pages from these origins may download through the plug-in; every other page gets the plug-in without its download engine. Separate the entries with blanks, for example:$\r$\nhttps://downloads.example.com https://*.example.org http://localhost:8080"
  Pop $0
  ${NSD_CreateText} 0 46u 100% 12u $1
  Pop $OriginsField
  ; Longer than this and NSIS would cut the list short without a word.
  IntOp $0 ${NSIS_MAX_STRLEN} - 1
  SendMessage $OriginsField ${EM_LIMITTEXT} $0 0
  ${NSD_CreateLabel} 0 64u 100% 30u "Leave it empty for pages from this computer only (http://127.0.0.1, http://localhost and http://[::1], any port). *. allows the subdomains of a site, :* any port."
  Pop $0
  nsDialogs::Show
  Pop $1
  Pop $0
FunctionEnd

Function OriginsPageLeave
  Push $0
  ${NSD_GetText} $OriginsField $0
  ; A field left as it was changes nothing: the value in place stays as it is.
  ${If} $OriginsGiven != 1
  ${AndIf} $0 S== $OriginsShown
    Pop $0
    Return
  ${EndIf}
  Push $0
  Call CheckOriginList
  ${If} $OriginsProblem != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "$OriginsProblem$\r$\n$\r$\nEach entry is an origin such as https://downloads.example.com, https://*.example.com or http://localhost:*."
    Pop $0
    Abort
  ${EndIf}
  StrCpy $Origins $OriginsNormal
  StrCpy $OriginsGiven 1
  Pop $0
FunctionEnd

; In the install section, with the other keys: a list that cannot be written
; sets the error flag, as they do.
Function WriteAllowedOrigins
  ${If} $OriginsGiven == 1
    ${If} $Origins != ""
      DetailPrint "Allowed sites: $Origins"
      WriteRegStr SHCTX "${SITE_LOCK_KEY}" "${ALLOWED_ORIGINS}" "$Origins"
    ${Else}
      DetailPrint "Allowed sites: pages from this computer only"
      Call RemoveAllowedOrigins
    ${EndIf}
  ${EndIf}
FunctionEnd

; Removes the value, and its keys when nothing else is left in them. Sets the
; error flag only when the value is still there after (whatever its type).
!macro RemoveAllowedOriginsFunction PREFIX
Function ${PREFIX}RemoveAllowedOrigins
  Push $0
  Push $1
  Push $2
  StrCpy $2 0
  ${If} ${Errors}
    StrCpy $2 1
  ${EndIf}
  DeleteRegValue SHCTX "${SITE_LOCK_KEY}" "${ALLOWED_ORIGINS}"
  StrCpy $0 0
  ${Do}
    ClearErrors
    EnumRegValue $1 SHCTX "${SITE_LOCK_KEY}" $0
    ${If} ${Errors}
    ${OrIf} $1 == ""
      ${Break}
    ${ElseIf} $1 == "${ALLOWED_ORIGINS}"
      StrCpy $2 1
      ${Break}
    ${EndIf}
    IntOp $0 $0 + 1
  ${Loop}
  DeleteRegKey /ifempty SHCTX "${SITE_LOCK_KEY}"
  DeleteRegKey /ifempty SHCTX "${SITE_LOCK_PARENT}"
  ClearErrors
  ${If} $2 == 1
    SetErrors
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro RemoveAllowedOriginsFunction ""
!insertmacro RemoveAllowedOriginsFunction "un."
