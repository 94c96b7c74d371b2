; The install folder is the setup's alone.
;
; The log-on entry starts the program in the install folder for every
; account, administrators included, so whoever can write there, or owns the
; folder and so can change its rights, can put code beside the program that
; every account runs (a winspool.drv that Windows loads before its own).
;
; Whether a folder is safe is judged from what it is, not from where it is:
; a name can be spelled around ("C:\Program Files\..\Users\Public") and a
; folder in Program Files can carry rights some other setup loosened.
; - A folder that is there already must belong to Administrators, SYSTEM,
;   TrustedInstaller or the administrator running this setup (on Windows XP
;   a folder an administrator makes belongs to that account, so that is what
;   an earlier install of ours left), and hold nothing but the files this
;   setup puts there. Otherwise it is refused, with a sentence naming it:
;   nothing in it is touched, and nothing is installed.
; - The folder, new or not, then gets Program Files' rights of its own,
;   wherever it is: Administrators and SYSTEM may change it, Users may read
;   and run, and nothing is inherited from its parent (on C:\ that would let
;   Authenticated Users create and change files). On XP it is also given to
;   Administrators, so that another administrator's upgrade takes it.
; - It is looked at again once nobody else can write there: a folder that a
;   user made, or filled, between the first look and then is refused too.
; - The files of an earlier install are written afresh rather than over,
;   so none keeps an owner or rights of its own (setup.nsi).
;
; Windows' rights are set by SID, which holds in every language of Windows:
; from Vista on with icacls (*SID), on Windows XP, whose cacls takes only
; account names and asks a yes-or-no question in the language of that
; Windows, through SetNamedSecurityInfo with the rights written in SDDL. Each
; result is checked; a failure stops the setup before any file is written.

!include "WinVer.nsh"

!define SID_ADMINISTRATORS "S-1-5-32-544"
!define SID_SYSTEM "S-1-5-18"
!define SID_USERS "S-1-5-32-545"
!define SID_AUTHENTICATED_USERS "S-1-5-11"
!define SID_TRUSTED_INSTALLER "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"

; Program Files' rights, protected from inheritance (P), for
; SetNamedSecurityInfo: full control for Administrators and SYSTEM, read and
; execute (0x1200a9) for Users, each for the folder and everything in it;
; the owner Administrators.
!define PROGRAM_FILES_SDDL "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"

!define SE_FILE_OBJECT 1
!define OWNER_SECURITY_INFORMATION 0x1
; DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
!define PROTECTED_DACL_INFORMATION 0x80000004

Var installFolderExisted  ; 1 if the install folder was there before this setup

; The text form ("S-1-5-32-544") of the SID at the address on the stack;
; "" if it can't be had.
Function sidText
    Exch $0
    Push $1
    Push $2
    StrCpy $2 ""
    System::Call 'advapi32::ConvertSidToStringSidW(p r0, *p .r1) i .r0'
    ${If} $0 <> 0
        System::Call 'kernel32::lstrcpynW(w .r2, p r1, i ${NSIS_MAX_STRLEN})'
        System::Call 'kernel32::LocalFree(p r1)'
    ${EndIf}
    StrCpy $0 $2
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; The SID of the account running this setup, as text; "" if unknown.
Function runningAccountSid
    Push $2
    Push $0
    Push $1
    StrCpy $2 ""
    System::Call 'kernel32::GetCurrentProcess() p .r0'
    System::Call 'advapi32::OpenProcessToken(p r0, i 0x8, *p .r0) i .r1'  ; TOKEN_QUERY
    ${If} $1 <> 0
        ; TOKEN_USER: the SID's address first; the SID itself follows it.
        System::Call '*(&i256) p .r1'
        System::Call 'advapi32::GetTokenInformation(p r0, i 1, p r1, i 256, *i .r2) i .r2'  ; TokenUser
        ${If} $2 <> 0
            System::Call '*$1(p .r2)'
            Push $2
            Call sidText
            Pop $2
        ${Else}
            StrCpy $2 ""
        ${EndIf}
        System::Free $1
        System::Call 'kernel32::CloseHandle(p r0)'
    ${EndIf}
    Pop $1
    Pop $0
    Exch $2
FunctionEnd

; The owner of the file or folder on the stack, as a SID in text; "" if it
; can't be read.
Function ownerOf
    Exch $0
    Push $1
    Push $2
    System::Call 'advapi32::GetNamedSecurityInfoW(w r0, i ${SE_FILE_OBJECT}, i ${OWNER_SECURITY_INFORMATION}, *p .r1, p 0, p 0, p 0, *p .r2) i .r0'
    ${If} $0 = 0
        Push $1
        Call sidText
        Pop $0
        System::Call 'kernel32::LocalFree(p r2)'
    ${Else}
        StrCpy $0 ""
    ${EndIf}
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Whether the name on the stack (no folder) is one this setup writes into
; the install folder, a leftover of it included: the new program not yet
; in place (".new"), or an earlier program renamed aside (".<n>.old",
; replace_program.nsh). Leaves 1 or 0.
Function isSetupFileName
    Exch $0
    Push $1
    Push $2
    StrLen $1 "${PROGRAM_FILE}."
    StrCpy $2 $0 $1
    ${If} $0 == "${PROGRAM_FILE}"
    ${OrIf} $0 == "${UNINSTALLER_FILE}"
    ${OrIf} $0 == "LICENSE.txt"
    ${OrIf} $0 == "${PROGRAM_FILE}.new"
        StrCpy $0 1
    ${ElseIf} $2 == "${PROGRAM_FILE}."
        StrCpy $2 $0 "" -4
        ${If} $2 == ".old"
            StrCpy $0 1
        ${Else}
            StrCpy $0 0
        ${EndIf}
    ${Else}
        StrCpy $0 0
    ${EndIf}
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Why the install folder can't be the setup's, as a sentence naming it; ""
; when it can: it doesn't exist yet, or it belongs to an administrator and
; holds only this setup's files. Sets $installFolderExisted.
Function installFolderProblem
    Push $0
    Push $1
    Push $2
    Push $3
    StrCpy $3 ""
    StrCpy $installFolderExisted 0
    ${If} ${FileExists} "$INSTDIR\*.*"
        StrCpy $installFolderExisted 1
        Push $INSTDIR
        Call ownerOf
        Pop $0
        Call runningAccountSid
        Pop $1
        ${If} $0 != ${SID_ADMINISTRATORS}
        ${AndIf} $0 != ${SID_SYSTEM}
        ${AndIf} $0 != ${SID_TRUSTED_INSTALLER}
        ${AndIf} $0 != $1
        ${OrIf} $0 == ""
            ${If} $0 == ""
                StrCpy $0 "unknown"
            ${EndIf}
            StrCpy $3 "The folder $INSTDIR already exists and belongs to another account ($0), which can change what is in it; choose another folder, or remove it first."
        ${Else}
            FindFirst $0 $1 "$INSTDIR\*.*"
            ${DoWhile} $1 != ""
                ${If} $1 != "."
                ${AndIf} $1 != ".."
                    Push $1
                    Call isSetupFileName
                    Pop $2
                    ${If} ${FileExists} "$INSTDIR\$1\*.*"
                    ${OrIf} $2 = 0
                        StrCpy $3 "The folder $INSTDIR already exists and holds $1, which this setup did not put there; choose another folder, or remove it first."
                        ${Break}
                    ${EndIf}
                ${EndIf}
                FindNext $0 $1
            ${Loop}
            FindClose $0
        ${EndIf}
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

; Windows XP: the folder's whole list of rights replaced by Program Files',
; in one call, then its owner; leaves 0 or the Windows error code of the
; rights. The owner is the rights' sequel, which the new rights allow; a
; folder left to the administrator who made it is safe all the same.
Function setProgramFilesSecurity
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    Push $6
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${PROGRAM_FILES_SDDL}", i 1, *p .r1, p 0) i .r0 ?e'
    Pop $2  ; the last error
    ${If} $0 = 0
        StrCpy $0 $2
    ${Else}
        System::Call 'advapi32::GetSecurityDescriptorOwner(p r1, *p .r5, *i .r6) i .r0'
        System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r2, *p .r3, *i .r6) i .r4'
        ${If} $0 = 0
        ${OrIf} $4 = 0
        ${OrIf} $2 = 0
            StrCpy $0 87  ; ERROR_INVALID_PARAMETER: the SDDL lacks a part
        ${Else}
            DetailPrint "Setting the rights of $INSTDIR to ${PROGRAM_FILES_SDDL}"
            System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i ${SE_FILE_OBJECT}, i ${PROTECTED_DACL_INFORMATION}, p 0, p 0, p r3, p 0) i .r0'
            ${If} $0 = 0
                System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i ${SE_FILE_OBJECT}, i ${OWNER_SECURITY_INFORMATION}, p r5, p 0, p 0, p 0) i .r4'
                ${If} $4 <> 0
                    DetailPrint "$INSTDIR stays owned by this account (error $4)."
                ${EndIf}
            ${EndIf}
        ${EndIf}
        System::Call 'kernel32::LocalFree(p r1)'
    ${EndIf}
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Stops the setup, before anything is touched, if the install folder isn't
; the setup's (installFolderProblem).
Function refuseForeignInstallFolder
    Push $0
    Call installFolderProblem
    Pop $0
    ${If} $0 != ""
        Push $0
        Call stopSetup
    ${EndIf}
    Pop $0
FunctionEnd

; Gives the install folder Program Files' rights, then looks at it once
; more. Stops the setup before any file is written if either fails: the
; folder would stay open to every user, or is not the setup's.
Function secureInstallFolder
    Push $0
    CreateDirectory "$INSTDIR"
    ${If} ${AtLeastWinVista}
        ; A folder made earlier may carry entries of its own besides what it
        ; inherits; /reset leaves only the inherited ones. /inheritance:r then
        ; drops those, and /grant:r replaces what the three accounts had;
        ; an Authenticated Users entry of the folder's own goes last.
        StrCpy $0 0
        ${If} $installFolderExisted = 1
            Push '"$SYSDIR\icacls.exe" "$INSTDIR" /reset'
            Call runTool
            Pop $0
        ${EndIf}
        ${If} $0 == 0
            Push '"$SYSDIR\icacls.exe" "$INSTDIR" /inheritance:r /grant:r *${SID_ADMINISTRATORS}:(OI)(CI)F *${SID_SYSTEM}:(OI)(CI)F *${SID_USERS}:(OI)(CI)RX'
            Call runTool
            Pop $0
        ${EndIf}
        ${If} $0 == 0
            Push '"$SYSDIR\icacls.exe" "$INSTDIR" /remove:g *${SID_AUTHENTICATED_USERS}'
            Call runTool
            Pop $0
        ${EndIf}
    ${Else}
        Call setProgramFilesSecurity
        Pop $0
    ${EndIf}
    ${If} $0 != 0
        Push "The rights of $INSTDIR could not be limited to administrators ($0). Choose a folder in Program Files."
        Call stopSetup
    ${EndIf}
    Call installFolderProblem
    Pop $0
    ${If} $0 != ""
        Push $0
        Call stopSetup
    ${EndIf}
    Pop $0
FunctionEnd
