; The options page: starting the spooler at log-on.
;
; The log-on entry is a value under the machine's Run key (HKLM, in the
; native registry view), not a shortcut in the all-users Startup folder: it
; is one value that setup writes and the uninstaller removes by name, it
; holds the exact command line, and Windows lists it with the program's own
; name and icon in Task Manager's Startup tab (Windows 8 and later) and in
; msconfig (XP and 7), where each user turns it off.
;
; /logon makes the start quiet for an account without Palm Desktop or
; without hand-helds yet. The value is written whole every time, so an
; upgrade over an entry from before /logon rewrites it.

Section "Start the spooler when I log on" sectionLogon
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${PROGRAM_FILE}" /logon'
SectionEnd

; Unticked, an upgrade takes the entry an earlier install wrote away again.
Section "-logonOff"
    ${IfNot} ${SectionIsSelected} ${sectionLogon}
        DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    ${EndIf}
SectionEnd

; On an upgrade the option starts as the installed version left it: an
; administrator who turned log-on start off keeps it off, silent or not.
Function keepLogonChoice
    ClearErrors
    ReadRegStr $0 HKLM "${RUN_KEY}" "${RUN_VALUE}"
    ${If} ${Errors}
        !insertmacro UnselectSection ${sectionLogon}
    ${EndIf}
FunctionEnd
