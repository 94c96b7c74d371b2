; The uninstaller removes what setup wrote, each thing by name, and nothing
; else: the Palm Desktop folders and the spool files in them are the user's
; and stay. The install folder goes only if nothing else is left in it.

Function un.onInit
    !insertmacro requireAdministrator "un"
    !insertmacro useNativeView
FunctionEnd

Section "Uninstall"
    Call un.endRunningSpooler

    Delete "$INSTDIR\${PROGRAM_FILE}"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$SMPROGRAMS\${PRODUCT_NAME}.lnk"
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    Delete "$INSTDIR\${UNINSTALLER_FILE}"
    RMDir "$INSTDIR"
    ; Last: while the entry is there, the uninstall can be run again.
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
