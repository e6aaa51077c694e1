; The download engine's COM classes, as its own DllRegisterServer writes them
; (download_engine/registration.cpp, class_ids.h). The installer stage in the
; 32-bit guest compares what the installer writes with what the engine's own
; registration writes, so the two cannot drift apart unnoticed.

!macro ForEachEngineClass MACRO
  !insertmacro ${MACRO} "{6F0C3A52-7E1B-4C8D-9A24-3B5E8D71C901}" "transfer.Schedule" "Halvo download engine: schedule"
  !insertmacro ${MACRO} "{6F0C3A52-7E1B-4C8D-9A24-3B5E8D71C902}" "transfer.Config" "Halvo download engine: settings"
  !insertmacro ${MACRO} "{6F0C3A52-7E1B-4C8D-9A24-3B5E8D71C903}" "transfer.Download" "Halvo download engine: downloads"
!macroend
