; Where the plug-in and the engine are registered, under HKLM or HKCU as the
; install mode chose (SHCTX follows SetShellVarContext), always in the 32-bit
; view (.onInit sets it): the plug-in key browsers scan, the engine's COM
; classes, and the entry in the system's list of programs.

; The shared keys above ours that this install was the first to make (a
; per-user install often is), as bits of the entry's "CreatedKeys" value: the
; uninstaller removes exactly those, once nothing is left in them.
!define CREATED_CLSID 1
!define CREATED_CLASSES 2
!define CREATED_PLUGINS 4
!define CREATED_UNINSTALL 8
Var CreatedKeys

!macro NoteIfMissing KEY BIT
  ClearErrors
  EnumRegKey $0 SHCTX "${KEY}" 0
  ${If} ${Errors}
    IntOp $CreatedKeys $CreatedKeys | ${BIT}
  ${EndIf}
!macroend

; Before anything is written. An installed version's entry still there (one
; whose uninstaller was not run) passes on what its install created.
Function NoteMissingParents
  Push $0
  ReadRegDWORD $CreatedKeys SHCTX "${UNINSTALL_KEY}" "CreatedKeys"
  IntOp $CreatedKeys $CreatedKeys + 0
  !insertmacro NoteIfMissing "Software\Classes\CLSID" ${CREATED_CLSID}
  !insertmacro NoteIfMissing "Software\Classes" ${CREATED_CLASSES}
  !insertmacro NoteIfMissing "Software\MozillaPlugins" ${CREATED_PLUGINS}
  !insertmacro NoteIfMissing "${UNINSTALL_PARENT}" ${CREATED_UNINSTALL}
  Pop $0
FunctionEnd

Function WritePluginKey
  WriteRegStr SHCTX "${PLUGIN_KEY}" "Path" "$INSTDIR\halvo_plugin.dll"
  WriteRegStr SHCTX "${PLUGIN_KEY}" "Description" "${PRODUCT_NAME}"
  WriteRegStr SHCTX "${PLUGIN_KEY}" "ProductName" "${PRODUCT_NAME}"
  WriteRegStr SHCTX "${PLUGIN_KEY}" "Vendor" "${PUBLISHER}"
  WriteRegStr SHCTX "${PLUGIN_KEY}" "Version" "${VERSION}"
  WriteRegStr SHCTX "${PLUGIN_KEY}\MimeTypes\${MIME_TYPE}" "Description" "${PRODUCT_NAME}"
FunctionEnd

!macro WriteEngineClass CLSID PROGID DESCRIPTION
  WriteRegStr SHCTX "Software\Classes\CLSID\${CLSID}" "" "${DESCRIPTION}"
  WriteRegStr SHCTX "Software\Classes\CLSID\${CLSID}\InprocServer32" "" "$INSTDIR\halvo_engine.dll"
  ; Without it a second single-threaded apartment would deadlock on the objects.
  WriteRegStr SHCTX "Software\Classes\CLSID\${CLSID}\InprocServer32" "ThreadingModel" "Apartment"
  WriteRegStr SHCTX "Software\Classes\CLSID\${CLSID}\ProgID" "" "${PROGID}"
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "${DESCRIPTION}"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\CLSID" "" "${CLSID}"
!macroend

Function WriteEngineClasses
  !insertmacro ForEachEngineClass WriteEngineClass
FunctionEnd

Function WriteUninstallEntry
  Push $0
  Push $1
  Push $2
  ${If} $InstallMode == AllUsers
    StrCpy $0 "/ALLUSERS"
  ${Else}
    StrCpy $0 "/CURRENTUSER"
  ${EndIf}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" $0'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S $0'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "VersionMajor" ${VERSION_MAJOR}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "VersionMinor" ${VERSION_MINOR}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "CreatedKeys" $CreatedKeys
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Each key goes only while it still names what this folder holds: a copy of
; the engine registered from elsewhere since keeps its classes.
!macro RemoveEngineClass CLSID PROGID DESCRIPTION
  ReadRegStr $0 SHCTX "Software\Classes\CLSID\${CLSID}\InprocServer32" ""
  ${If} $0 != ""
    !insertmacro SamePath $1 "$0" "$INSTDIR\halvo_engine.dll"
    ${If} $1 == 1
      DeleteRegKey SHCTX "Software\Classes\CLSID\${CLSID}"
    ${EndIf}
  ${EndIf}
  ReadRegStr $0 SHCTX "Software\Classes\${PROGID}\CLSID" ""
  ReadRegStr $1 SHCTX "Software\Classes\CLSID\${CLSID}\InprocServer32" ""
  ${If} $0 == "${CLSID}"
  ${AndIf} $1 == ""
    DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  ${EndIf}
!macroend

; Every plug-in key of ours whose module is in FOLDER, whatever version wrote it.
!macro RemovePluginKeysFunction PREFIX
Function ${PREFIX}RemovePluginKeys
  Exch $0   ; the folder
  Push $1
  Push $2
  Push $3
  Push $4
  StrLen $4 "${PLUGIN_ID},version="
  StrCpy $1 0
  ${Do}
    EnumRegKey $2 SHCTX "Software\MozillaPlugins" $1
    ${If} $2 == ""
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    StrCpy $3 $2 $4
    ${If} $3 == "${PLUGIN_ID},version="
      ReadRegStr $3 SHCTX "Software\MozillaPlugins\$2" "Path"
      !insertmacro SamePath $3 "$3" "$0\halvo_plugin.dll"
      ${If} $3 == 1
        DeleteRegKey SHCTX "Software\MozillaPlugins\$2"
        ; The keys after it moved up by one.
        IntOp $1 $1 - 1
      ${EndIf}
    ${EndIf}
  ${Loop}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro RemovePluginKeysFunction ""
!insertmacro RemovePluginKeysFunction "un."

!macro RemoveCreatedKey CREATED BIT KEY
  IntOp $1 ${CREATED} & ${BIT}
  ${If} $1 <> 0
    DeleteRegKey /ifempty SHCTX "${KEY}"
  ${EndIf}
!macroend

!macro RemoveRegistrationFunction PREFIX
Function ${PREFIX}RemoveRegistration
  Push $0
  Push $1
  Push $2
  StrCpy $2 0
  Push "$INSTDIR"
  Call ${PREFIX}RemovePluginKeys
  !insertmacro ForEachEngineClass RemoveEngineClass
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    !insertmacro SamePath $1 "$0" "$INSTDIR"
    ${If} $1 == 1
      ReadRegDWORD $2 SHCTX "${UNINSTALL_KEY}" "CreatedKeys"
      DeleteRegKey SHCTX "${UNINSTALL_KEY}"
    ${EndIf}
  ${EndIf}
  ; Deepest first: CLSID empties Classes.
  !insertmacro RemoveCreatedKey $2 ${CREATED_CLSID} "Software\Classes\CLSID"
  !insertmacro RemoveCreatedKey $2 ${CREATED_CLASSES} "Software\Classes"
  !insertmacro RemoveCreatedKey $2 ${CREATED_PLUGINS} "Software\MozillaPlugins"
  !insertmacro RemoveCreatedKey $2 ${CREATED_UNINSTALL} "${UNINSTALL_PARENT}"
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro RemoveRegistrationFunction ""
!insertmacro RemoveRegistrationFunction "un."
