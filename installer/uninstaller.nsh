; The uninstaller removes what setup wrote, each thing by name, and nothing
; else: the Palm Desktop folders and the spool files in them are the user's
; and stay. The install folder goes only if nothing else is left in it.
;
; A program that a spooler of another session still runs is deleted when
; Windows restarts, and the folder with it (replace_program.nsh). One that
; can't even be marked for that keeps the uninstaller and its Programs and
; Features entry, so that it can be removed later.

Function un.onInit
    !insertmacro requireAdministrator "un"
    !insertmacro useNativeView
FunctionEnd

Section "Uninstall"
    Call un.endRunningSpooler

    Call un.removePrograms
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$SMPROGRAMS\${PRODUCT_NAME}.lnk"
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    ${If} $notRemoved = 1
        MessageBox MB_OK|MB_ICONSTOP "$INSTDIR\${PROGRAM_FILE} is in use and could not be removed. Restart Windows, then uninstall ${PRODUCT_NAME} again." /SD IDOK
        Abort "$INSTDIR\${PROGRAM_FILE} could not be removed."
    ${EndIf}
    Delete "$INSTDIR\${UNINSTALLER_FILE}"
    RMDir "$INSTDIR"
    ${If} $removedAtRestart = 1
        ; Windows deletes a folder then only if it is empty by then.
        System::Call 'kernel32::MoveFileExW(w "$INSTDIR", p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i .r0'
        MessageBox MB_OK|MB_ICONINFORMATION "$INSTDIR\${PROGRAM_FILE} is still in use, by another user's spooler perhaps; it is removed when Windows restarts." /SD IDOK
    ${EndIf}
    ; Last: while the entry is there, the uninstall can be run again.
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
