; The Halvo Transfer Plugin's installer: the 32-bit plug-in module and the
; 32-bit download engine, per machine or per user, with its uninstaller.
;
;   makensis -DVERSION=1.0.0.5 -DBIN_DIR=<folder with the two DLLs> -DOUT_FILE=<setup.exe> halvo_setup.nsi
;
; installer/make-installer.sh runs exactly that; the build calls it with the
; version CMake reads from resources/version.h. Switches: README.md here.

Unicode true
Target x86-unicode
SetCompressor /SOLID lzma
; No file times in the package: the same inputs give the same installer.
SetDateSave off
; A file that cannot be written is never skipped: a half-replaced pair of
; DLLs would be worse than no install at all.
AllowSkipFiles off
ManifestSupportedOS all
ManifestDPIAware true
; No administrator rights asked for: a per-user install runs with the user's
; own; a run for all users gets them through the consent prompt (elevation.nsh).
RequestExecutionLevel user
ShowInstDetails show
ShowUninstDetails show

!ifndef VERSION | BIN_DIR | OUT_FILE
  !error "give -DVERSION=a.b.c.d -DBIN_DIR=folder -DOUT_FILE=file"
!endif
!searchparse /noerrors "${VERSION}" "" VERSION_MAJOR "." VERSION_MINOR "." VERSION_PATCH "." VERSION_BUILD
!ifndef VERSION_BUILD
  !error "VERSION must have four numbers: ${VERSION}"
!endif

!include "product.nsh"

Name "${PRODUCT_NAME}"
OutFile "${OUT_FILE}"
BrandingText "${PRODUCT_NAME} ${VERSION}"
; Left empty so that .onInit can tell whether /D= named a folder.
InstallDir ""

!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include MUI2.nsh
!include nsDialogs.nsh
!include Sections.nsh

!include "command_line.nsh"
!include "paths.nsh"
!include "elevation.nsh"
!include "engine_classes.nsh"
!include "origin_list.nsh"
!include "site_lock.nsh"
!include "install_mode.nsh"
!include "registration.nsh"
!include "files_in_use.nsh"
!include "upgrade.nsh"
!include "uninstall.nsh"

Var Upgrading   ; 1 when the installer of another version runs the uninstaller (/UPGRADE)

!define MUI_ABORTWARNING
!define MUI_UNABORTWARNING

Page custom InstallModePageShow InstallModePageLeave
Page custom OriginsPageShow OriginsPageLeave
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryPageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES

!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_PAGE_CUSTOMFUNCTION_PRE un.ComponentsPagePre
!define MUI_COMPONENTSPAGE_TEXT_TOP "The plug-in and the download engine are removed. Your downloaded files stay where they are."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT_NAME} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

; ---- the installer -----------------------------------------------------------

Function .onInit
  ; Browsers that load this 32-bit module read the 32-bit view, and COM finds
  ; a 32-bit in-process server only there: on 64-bit Windows every key goes to
  ; that view on purpose, not through redirection by chance.
  SetRegView 32
  !insertmacro RefuseLongCommandLine
  ${GetParameters} $Parameters
  StrCpy $Switches $Parameters
  Call ReadOriginsSwitch
  Call ChooseInstallMode
  ; A run that still needs the rights asks about a newer version once it has them.
  ${If} $InstallMode == CurrentUser
  ${OrIf} $IsAdmin == 1
    Call RefuseDowngrade
  ${EndIf}
FunctionEnd

Function DirectoryPageLeave
  !insertmacro RequireProtectedFolder Abort
FunctionEnd

Section "-${PRODUCT_NAME}" SecMain
  SectionIn RO
  ; Again here: nothing is run, written or deleted in a folder users can change.
  !insertmacro RequireProtectedFolder Fail
  Call RemovePreviousVersion

  !insertmacro RequireFilesNotInUse "$INSTDIR"
  SetOutPath "$INSTDIR"
  File "${BIN_DIR}\halvo_plugin.dll"
  File "${BIN_DIR}\halvo_engine.dll"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  Call NoteMissingParents
  ClearErrors
  Call WritePluginKey
  Call WriteEngineClasses
  Call WriteUninstallEntry
  Call WriteAllowedOrigins
  ${If} ${Errors}
    ; Nothing half-registered is left behind a failure reported as such.
    Call RemoveRegistration
    Delete "$INSTDIR\halvo_plugin.dll"
    Delete "$INSTDIR\halvo_engine.dll"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    !insertmacro Fail ${EXIT_REGISTRY} "The registry keys of ${PRODUCT_NAME} could not be written."
  ${EndIf}
SectionEnd

; ---- the uninstaller ---------------------------------------------------------

Section "-un.${PRODUCT_NAME}" UnSecMain
  SectionIn RO
  !insertmacro RequireFilesNotInUse "$INSTDIR"
  Call un.RemoveRegistration
  ; An upgrade keeps the list of allowed sites for the version it installs.
  ${If} $Upgrading != 1
    Call un.RemoveAllowedOrigins
  ${EndIf}
  Delete "$INSTDIR\halvo_plugin.dll"
  Delete "$INSTDIR\halvo_engine.dll"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only what this installer put there: a folder the person chose may hold more.
  RMDir "$INSTDIR"
  Call un.RemoveDefaultParent
SectionEnd

; Off unless asked: the engine's settings and task journal outlive the program.
Section /o "un.The download engine's settings and task list" UnSecData
  Call un.RemoveEngineData
SectionEnd

Function un.onInit
  SetRegView 32
  ${GetParameters} $Parameters
  StrCpy $Switches $Parameters
  Push $0
  Push $1
  Push "/UPGRADE"
  Call un.HasSwitch
  Pop $Upgrading
  Push "/REMOVEDATA"
  Call un.HasSwitch
  Pop $1
  ${If} $Upgrading == 1
  ${AndIf} $1 == 1
    !insertmacro Fail ${EXIT_USAGE} "Give /UPGRADE or /REMOVEDATA, not both."
  ${EndIf}
  Call un.ChooseInstallMode
  ${If} $1 == 1
    !insertmacro SelectSection ${UnSecData}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; The engine's data lies in each user's own folder: only a per-user uninstall,
; which runs with that user's rights, offers to remove it.
Function un.ComponentsPagePre
  ${If} $InstallMode == AllUsers
    Abort
  ${EndIf}
FunctionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecData} "Settings, cookies kept for downloads, and the lists of working and finished downloads of the current user."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END
