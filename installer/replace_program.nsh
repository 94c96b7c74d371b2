; Replacing and removing the program while spoolers of other sessions run it.
;
; The spooler starts at every log-on, in every account, so on a shared PC
; another user's session (switched away from, or disconnected) usually runs
; one. The setup can't ask that one to exit: window handles and messages
; don't cross sessions, and reaching into another session takes a service
; running as SYSTEM. Ending it by force could cut a job in half. And the
; spoolers already installed are the ones to be replaced, so nothing added
; to the program now could help them.
;
; Windows won't let a running program's file be written or deleted, but it
; does let it be renamed (on XP as on 11): the running copy goes on from the
; renamed file. So the setup puts the new program in beside the old one
; under a name of its own, and gives it the program's name; if the old one
; is in use it is first renamed aside to "FernquillSpooler.exe.<n>.old" and
; marked for deletion when Windows restarts (MoveFileEx with
; MOVEFILE_DELAY_UNTIL_REBOOT, which needs an administrator, as the setup
; is). The other session's spooler runs the earlier version until it ends;
; its next log-on starts the new one.
;
; What still stops it is a handle opened without delete sharing (a virus
; scanner or a backup reading the file): then nothing is changed, the earlier
; version stays installed, and the setup says so and fails.
;
; The uninstaller deletes the program or, while it is in use, renames it
; aside and marks it and the folder for deletion when Windows restarts.
; Should even that fail, it keeps its Programs and Features entry and
; itself, so it can be run again.

!define MOVEFILE_REPLACE_EXISTING 1
!define MOVEFILE_DELAY_UNTIL_REBOOT 4

; Puts the new program, written beside the old one as NEW_PROGRAM_FILE,
; under the program's name. Leaves 0, or 1 if the old one could not be
; replaced; then everything is as it was, but for the new file beside it.
Function swapInNewProgram
    Push $0
    Push $1
    Push $2
    System::Call 'kernel32::MoveFileExW(w "$INSTDIR\${NEW_PROGRAM_FILE}", w "$INSTDIR\${PROGRAM_FILE}", i ${MOVEFILE_REPLACE_EXISTING}) i .r0'
    ${If} $0 <> 0
        StrCpy $0 0
    ${Else}
        ; In use. An earlier upgrade's program renamed aside may be free
        ; again, and its name with it.
        StrCpy $2 ""
        ${For} $1 1 99
            Delete "$INSTDIR\${PROGRAM_FILE}.$1.old"
            ${IfNot} ${FileExists} "$INSTDIR\${PROGRAM_FILE}.$1.old"
                StrCpy $2 "$INSTDIR\${PROGRAM_FILE}.$1.old"
                ${Break}
            ${EndIf}
        ${Next}
        StrCpy $0 1
        ${If} $2 != ""
            System::Call 'kernel32::MoveFileExW(w "$INSTDIR\${PROGRAM_FILE}", w r2, i 0) i .r1'
            ${If} $1 <> 0
                System::Call 'kernel32::MoveFileExW(w "$INSTDIR\${NEW_PROGRAM_FILE}", w "$INSTDIR\${PROGRAM_FILE}", i 0) i .r1'
                ${If} $1 <> 0
                    StrCpy $0 0
                    DetailPrint "The earlier program is in use, by a spooler of another session; it was renamed to $2."
                    System::Call 'kernel32::MoveFileExW(w r2, p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i .r1'
                    ${If} $1 <> 0
                        DetailPrint "$2 is deleted when Windows restarts."
                    ${Else}
                        DetailPrint "$2 could not be marked for deletion; the uninstaller removes it."
                    ${EndIf}
                ${Else}
                    System::Call 'kernel32::MoveFileExW(w r2, w "$INSTDIR\${PROGRAM_FILE}", i 0) i .r1'
                ${EndIf}
            ${EndIf}
        ${EndIf}
    ${EndIf}
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Right after the new program was written beside the old one (the error
; flag set if that failed): puts it in place, asking again while the user
; wants to. Otherwise the earlier version stays installed and the setup
; stops (stopSetup), before anything is registered.
Function putNewProgramInPlace
    Push $0
    ${If} ${Errors}
        Delete "$INSTDIR\${NEW_PROGRAM_FILE}"
        Push "The new $INSTDIR\${PROGRAM_FILE} could not be written, so the installed version stays."
        Call stopSetup
    ${EndIf}
    ${Do}
        Call swapInNewProgram
        Pop $0
        ${If} $0 = 0
            ${Break}
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONSTOP "$INSTDIR\${PROGRAM_FILE} is in use and could not be replaced, so the installed version stays. Close whatever holds it open, then click Retry." /SD IDCANCEL IDRETRY replaceAgain
        Delete "$INSTDIR\${NEW_PROGRAM_FILE}"
        Push ""  ; said already
        Call stopSetup
        replaceAgain:
    ${Loop}
    Pop $0
FunctionEnd

Var removedAtRestart  ; 1 once something was marked for deletion at restart
Var notRemoved        ; 1 if something could be neither deleted nor marked

; Deletes the file on the stack or, if it is in use, marks it for deletion
; when Windows restarts. The program is renamed aside first where it can
; be: marked under its own name, the restart would delete the program of a
; setup run before it.
Function un.removeFile
    Exch $0
    Push $1
    Push $2
    Delete "$0"
    ${If} ${FileExists} "$0"
        StrCpy $1 $0 "" -4
        ${If} $1 != ".old"
            ${For} $1 1 99
                ${IfNot} ${FileExists} "$INSTDIR\${PROGRAM_FILE}.$1.old"
                    System::Call 'kernel32::MoveFileExW(w r0, w "$INSTDIR\${PROGRAM_FILE}.$1.old", i 0) i .r2'
                    ${If} $2 <> 0
                        StrCpy $0 "$INSTDIR\${PROGRAM_FILE}.$1.old"
                    ${EndIf}
                    ${Break}
                ${EndIf}
            ${Next}
        ${EndIf}
        System::Call 'kernel32::MoveFileExW(w r0, p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i .r1'
        ${If} $1 <> 0
            StrCpy $removedAtRestart 1
            DetailPrint "$0 is in use; it is deleted when Windows restarts."
        ${Else}
            StrCpy $notRemoved 1
            DetailPrint "$0 is in use and could not be marked for deletion."
        ${EndIf}
    ${EndIf}
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; The program, the earlier programs an upgrade renamed aside, and a new one
; an upgrade never put in place.
Function un.removePrograms
    Push $0
    Push $1
    StrCpy $removedAtRestart 0
    StrCpy $notRemoved 0
    Push "$INSTDIR\${PROGRAM_FILE}"
    Call un.removeFile
    Push "$INSTDIR\${NEW_PROGRAM_FILE}"
    Call un.removeFile
    FindFirst $0 $1 "$INSTDIR\${PROGRAM_FILE}.*.old"
    ${DoWhile} $1 != ""
        Push "$INSTDIR\$1"
        Call un.removeFile
        FindNext $0 $1
    ${Loop}
    FindClose $0
    Pop $1
    Pop $0
FunctionEnd
