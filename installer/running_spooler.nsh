; Ending a running spooler before its files are replaced or removed.
;
; The spooler has no command line and no other way in, so it is asked the way
; its user would: File > Exit, posted to its main window. Its message loop may
; be busy printing a job, so the wait is bounded, and the process itself is
; waited for, not only its window: Windows keeps the program file locked
; until the process is gone. Nothing is ever killed; a spooler that does not
; end is reported and the setup or uninstaller stops before touching a file.
;
; FindWindow sees the windows of this session's desktop, so a spooler in
; another user's session is not found and goes on running; the program is
; replaced or removed around it (replace_program.nsh).
;
; The functions are built twice, once for the uninstaller ("un." prefix), as
; NSIS requires for code both of them call.

!define SPOOLER_EXIT_WAIT_MS 10000

Var spoolerWasRunning  ; 1 once a running spooler was asked to end

!macro runningSpoolerFunctions UN
; Asks every spooler window of this session to exit, then waits for each
; process to end, at most SPOOLER_EXIT_WAIT_MS for each. Sets
; $spoolerWasRunning to 1 if one was running. Leaves the error flag set if
; one still runs.
Function ${UN}askSpoolersToExit
    Push $0
    Push $1
    Push $2
    Push $3
    ClearErrors
    ; A second spooler, if one was started, steps aside or shows a window of
    ; its own; a few rounds find them all.
    ${For} $3 1 5
        System::Call 'user32::FindWindowW(w "${SPOOLER_WINDOW_CLASS}", p 0) p .r0'
        ${If} $0 P= 0
            ${Break}
        ${EndIf}
        StrCpy $spoolerWasRunning 1
        DetailPrint "Asking the running ${PRODUCT_NAME} to exit"
        System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r1)'
        ; SYNCHRONIZE: enough to wait for it, not to end it.
        System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2'
        System::Call 'user32::PostMessageW(p r0, i ${WM_COMMAND}, p ${SPOOLER_EXIT_COMMAND}, p 0)'
        ${If} $2 P<> 0
            System::Call 'kernel32::WaitForSingleObject(p r2, i ${SPOOLER_EXIT_WAIT_MS}) i .r1'
            System::Call 'kernel32::CloseHandle(p r2)'
            ${If} $1 <> 0  ; not WAIT_OBJECT_0
                SetErrors
                ${Break}
            ${EndIf}
        ${Else}
            ; No handle to wait on: watch the window go instead.
            StrCpy $1 0
            ${Do}
                Sleep 100
                IntOp $1 $1 + 100
                IsWindow $0 0 +2
                ${Break}
            ${LoopUntil} $1 >= ${SPOOLER_EXIT_WAIT_MS}
            IsWindow $0 0 +2
            SetErrors
            ${IfThen} ${Errors} ${|} ${Break} ${|}
        ${EndIf}
    ${Next}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; Ends any running spooler before files are touched; asks again while the
; user wants to, and otherwise stops the setup (silently: exit code 2).
Function ${UN}endRunningSpooler
    StrCpy $spoolerWasRunning 0
    ${Do}
        Call ${UN}askSpoolersToExit
        ${IfNot} ${Errors}
            ${Break}
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT_NAME} is still running and did not exit. Quit it with File > Exit, then click Retry." /SD IDCANCEL IDRETRY +2
        Abort "${PRODUCT_NAME} is still running."
    ${Loop}
FunctionEnd
!macroend

!insertmacro runningSpoolerFunctions ""
!insertmacro runningSpoolerFunctions "un."

; Stops the setup before anything is registered, with the sentence on the
; stack shown in a box first unless it is "" (a silent setup only writes it
; to its details, and ends with exit code 2). A spooler this setup ended is
; started again, from the program still installed.
Function stopSetup
    Exch $0
    ${If} $0 != ""
        MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
    ${EndIf}
    ${If} $spoolerWasRunning == 1
        Call startSpoolerUnlessRunning
    ${EndIf}
    Abort "$0"
FunctionEnd

; Starts the installed spooler unless one already runs, so the finish page's
; option and the restart after an upgrade never make two. It is started as
; the logged-on user, by the desktop shell (shell_start.nsh); where the shell
; can't do that, it is not started at all and the user is told to start it
; from the Start menu; a silent setup only says so in its details.
Function startSpoolerUnlessRunning
    Push $0
    System::Call 'user32::FindWindowW(w "${SPOOLER_WINDOW_CLASS}", p 0) p .r0'
    ${If} $0 P= 0
        Push "$INSTDIR\${PROGRAM_FILE}"
        Call startAsTheLoggedOnUser
        ${If} ${Errors}
            MessageBox MB_OK|MB_ICONINFORMATION "${PRODUCT_NAME} could not be started for you. Start it from the Start menu." /SD IDOK
        ${EndIf}
    ${EndIf}
    Pop $0
FunctionEnd
