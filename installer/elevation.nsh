; Administrator rights. The installer's manifest asks for none (RequestExecutionLevel
; user): a per-user install and uninstall run with the rights of the user who
; starts them. A run for all users needs an elevated start; when a person picks
; "all users" in a run without the rights, the run asks Windows for them by
; starting the installer (or the per-machine uninstaller) again through the
; consent prompt ("runas"), and ends with that run's exit code.

Var IsAdmin   ; 1 when this run has administrator rights now (an elevated token)

!macro ElevationFunctions PREFIX
; Administrators without elevation hold a filtered token, in which the
; Administrators group counts for nothing: UserInfo then answers "User".
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

; Starts FILE with PARAMETERS through the consent prompt and waits for it.
; Pushes its exit code, or "" when it did not start (the prompt was declined).
;   Push FILE
;   Push PARAMETERS
Function ${PREFIX}RunElevated
  Exch $0   ; the parameters
  Exch
  Exch $1   ; the file
  Push $2
  Push $3
  Push $4
  ; SHELLEXECUTEINFOW with SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC |
  ; SEE_MASK_FLAG_NO_UI (the caller says what failed) and SW_SHOWNORMAL; its
  ; hProcess is the last member.
  System::Call '*(i ${SHELLEXECUTEINFO_SIZE}, i 0x540, p $HWNDPARENT, w "runas", w r1, w r0, p 0, i 1${SHELLEXECUTEINFO_PAD}, p 0, p 0, p 0, p 0, i 0${SHELLEXECUTEINFO_PAD}, p 0, p 0) p .r2'
  System::Call 'shell32::ShellExecuteExW(p r2) i .r3'
  StrCpy $0 ""
  ${If} $3 <> 0
    System::Call '*$2(i, i, p, p, p, p, p, i${SHELLEXECUTEINFO_PAD}, p, p, p, p, i${SHELLEXECUTEINFO_PAD}, p, p .r3)'
    ${If} $3 <> 0
      System::Call 'kernel32::WaitForSingleObject(p r3, i -1)'
      System::Call 'kernel32::GetExitCodeProcess(p r3, *i .r4) i .r0'
      ${If} $0 <> 0
        StrCpy $0 $4
      ${Else}
        StrCpy $0 ""
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r3)'
    ${EndIf}
  ${EndIf}
  System::Free $2
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend

; The structure's size and the padding after its lone 32-bit members where
; pointers are 64-bit (the installer is 32-bit; its functions' tests run 64-bit).
!if ${NSIS_PTR_SIZE} > 4
  !define SHELLEXECUTEINFO_SIZE 112
  !define SHELLEXECUTEINFO_PAD ", i 0"
!else
  !define SHELLEXECUTEINFO_SIZE 60
  !define SHELLEXECUTEINFO_PAD ""
!endif
!insertmacro ElevationFunctions ""
!insertmacro ElevationFunctions "un."
