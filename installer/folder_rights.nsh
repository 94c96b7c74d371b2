; Program Files' rights for an install folder chosen elsewhere.
;
; The log-on entry starts the program in the install folder for every
; account, so whoever can write there can replace what every account runs.
; Program Files lets only Administrators and SYSTEM change anything and gives
; Users read and execute; a folder made elsewhere inherits its parent's rights
; instead, and on C:\ those let Authenticated Users create and change files.
; Such a folder gets Program Files' rights, with inheritance from its parent
; broken so that no inherited write stays for Users or Authenticated Users.
;
; Windows' own tools do it: icacls from Vista on, cacls on XP. icacls takes
; the accounts by SID, which holds on every language of Windows; cacls takes
; only names, so they are looked up from the SIDs. cacls asks before it
; replaces a folder's rights, and is answered "y": English Windows XP's yes.
; (Another language's XP may want another letter; that is untested.)

!include "WinVer.nsh"

!define SID_ADMINISTRATORS "S-1-5-32-544"
!define SID_SYSTEM "S-1-5-18"
!define SID_USERS "S-1-5-32-545"
!define SID_AUTHENTICATED_USERS "S-1-5-11"

; Leaves 1 if the folder under the top of the stack is the folder on top of
; it or inside it, and 0 otherwise; compared without case, as Windows does.
Function isInFolder
    Exch $1  ; the parent
    Exch
    Exch $0  ; the folder
    Push $2
    StrLen $2 $1
    StrCpy $2 $0 $2
    ${If} $2 == $1
        StrLen $2 $1
        StrCpy $2 $0 1 $2
        ${If} $2 == ""
        ${OrIf} $2 == "\"
            StrCpy $0 1
        ${Else}
            StrCpy $0 0
        ${EndIf}
    ${Else}
        StrCpy $0 0
    ${EndIf}
    Pop $2
    Exch
    Pop $1
    Exch $0
FunctionEnd

; The account name of a SID ("S-1-5-32-544") on this Windows, on the stack;
; "" if it has none.
Function accountNameOf
    Exch $0
    Push $1
    Push $2
    Push $3
    StrCpy $3 ""
    System::Call 'advapi32::ConvertStringSidToSidW(w r0, *p .r1) i .r2'
    ${If} $2 <> 0
        System::Call 'advapi32::LookupAccountSidW(p 0, p r1, w .r3, *i ${NSIS_MAX_STRLEN}, w .r0, *i ${NSIS_MAX_STRLEN}, *i .r2) i .r2'
        ${If} $2 = 0
            StrCpy $3 ""
        ${EndIf}
        System::Call 'kernel32::LocalFree(p r1)'
    ${EndIf}
    StrCpy $0 $3
    Pop $3
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Runs a command line (on the stack) hidden, its output in the details;
; leaves its exit code, or "error" if it could not be run.
Function runTool
    Exch $0
    DetailPrint "Running $0"
    nsExec::ExecToLog $0
    Exch
    Pop $0
FunctionEnd

; Gives the install folder Program Files' rights unless it is in Program
; Files, where it inherits them. Stops the setup before any file is written
; if Windows' tool fails: the folder would stay open to every user.
Function giveProgramFilesRights
    Push $0
    Push $1
    Push $2
    Push $3
    Push $INSTDIR
    Push $PROGRAMFILES
    Call isInFolder
    Push $INSTDIR
    Push $PROGRAMFILES64
    Call isInFolder
    Pop $0
    Pop $1
    ${If} $0 = 0
    ${AndIf} $1 = 0
        CreateDirectory "$INSTDIR"
        ${If} ${AtLeastWinVista}
            ; /inheritance:r drops every inherited entry; /grant:r replaces
            ; what the three accounts had; an Authenticated Users entry of
            ; the folder's own goes too.
            Push '"$SYSDIR\icacls.exe" "$INSTDIR" /inheritance:r /grant:r *${SID_ADMINISTRATORS}:(OI)(CI)F *${SID_SYSTEM}:(OI)(CI)F *${SID_USERS}:(OI)(CI)RX'
            Call runTool
            Pop $0
            ${If} $0 == 0
                Push '"$SYSDIR\icacls.exe" "$INSTDIR" /remove:g *${SID_AUTHENTICATED_USERS}'
                Call runTool
                Pop $0
            ${EndIf}
        ${Else}
            Push ${SID_ADMINISTRATORS}
            Call accountNameOf
            Pop $1
            Push ${SID_SYSTEM}
            Call accountNameOf
            Pop $2
            Push ${SID_USERS}
            Call accountNameOf
            Pop $3
            ${If} $1 == ""
            ${OrIf} $2 == ""
            ${OrIf} $3 == ""
                StrCpy $0 "an account has no name"
            ${Else}
                ; Without /E, cacls replaces the folder's list, inherited
                ; entries included, once it is told yes.
                Push '"$SYSDIR\cmd.exe" /c echo y| "$SYSDIR\cacls.exe" "$INSTDIR" /T /G "$1:F" "$2:F" "$3:R"'
                Call runTool
                Pop $0
            ${EndIf}
        ${EndIf}
        ${If} $0 != 0
            MessageBox MB_OK|MB_ICONSTOP "The rights of $INSTDIR could not be limited to administrators ($0). Choose a folder in Program Files." /SD IDOK
            Abort "The rights of $INSTDIR could not be set."
        ${EndIf}
    ${EndIf}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd
