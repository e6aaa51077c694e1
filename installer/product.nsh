; Names and places shared by the installer and its uninstaller.

!define PRODUCT_NAME "Halvo Transfer Plugin"
!define PUBLISHER "Halvo"
!define MIME_TYPE "application/x-halvoplugin"
; Browsers find NPAPI modules under this key; the name carries the version.
!define PLUGIN_ID "@halvo/transfer"
!define PLUGIN_KEY "Software\MozillaPlugins\${PLUGIN_ID},version=${VERSION}"
!define UNINSTALL_PARENT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define UNINSTALL_KEY "${UNINSTALL_PARENT}\HalvoTransferPlugin"
!define UNINSTALLER "uninstall.exe"
; Below Program Files or the user's local application-data folder; the
; engine keeps its data beside it, in Halvo\Engine of the user's folder.
!define VENDOR_FOLDER "Halvo"
!define PRODUCT_FOLDER "Transfer Plugin"
!define ENGINE_DATA_FOLDER "Halvo\Engine"

; Exit codes besides NSIS's own (0 done, 1 cancelled, 2 aborted).
!define EXIT_USAGE 3          ; contradicting or impossible switches
!define EXIT_IN_USE 4         ; a program has the plug-in or the engine loaded
!define EXIT_NEWER 5          ; a newer version is installed (see /DOWNGRADE)
!define EXIT_PREVIOUS 6       ; the previous version's uninstaller failed
!define EXIT_REGISTRY 7       ; the registry could not be written

; Ends the run with a message (shown unless silent) and an exit code.
!macro Fail CODE MESSAGE
  MessageBox MB_OK|MB_ICONSTOP "${MESSAGE}" /SD IDOK
  SetErrorLevel ${CODE}
  Quit
!macroend
