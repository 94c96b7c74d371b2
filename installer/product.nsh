; Names and registry keys of the installed program. The product name,
; publisher and copyright are read from app/resource.h, where the program's
; version resource and About box take them, so all three say the same.
!searchparse /file "../app/resource.h" '#define SPOOLER_PRODUCT_NAME "' PRODUCT_NAME '"'
!searchparse /file "../app/resource.h" '#define SPOOLER_PUBLISHER "' PRODUCT_PUBLISHER '"'
!searchparse /file "../app/resource.h" '#define SPOOLER_COPYRIGHT "' PRODUCT_COPYRIGHT '"'
!searchparse /file "../app/resource.h" '#define SPOOLER_EXE_NAME "' PROGRAM_FILE '"'

!define UNINSTALLER_FILE "uninstall.exe"
; The new program while it is written, before it takes the program's name
; (replace_program.nsh).
!define NEW_PROGRAM_FILE "${PROGRAM_FILE}.new"

; Programs and Features. The key name never changes, so every version
; installs into the same entry.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\FernquillSpooler"

; The log-on entry: a value under the machine's Run key, started for every
; user who logs on.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "FernquillSpooler"

; The main window's class and its File > Exit command (app/resource.h).
!define SPOOLER_WINDOW_CLASS "FQSpoolClass"
!searchparse /file "../app/resource.h" '#define IDM_EXIT ' SPOOLER_EXIT_COMMAND

; On 64-bit Windows the 64-bit program's entries belong in the 64-bit
; registry view; the setup is a 32-bit program and would otherwise write
; them under WOW6432Node. The Start menu and Run entry are the machine's, for
; all users.
!macro useNativeView
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
    SetShellVarContext all
!macroend

; The setup writes into Program Files and HKLM. Windows Vista and later ask
; for elevation from the manifest; Windows XP has no such prompt, so a user
; without administrator rights is told before anything is written.
!macro requireAdministrator UN
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
        MessageBox MB_OK|MB_ICONSTOP "${PRODUCT_NAME} ${UN}installs for all users of this computer; please run this as an administrator." /SD IDOK
        SetErrorLevel 740  ; ERROR_ELEVATION_REQUIRED
        Quit
    ${EndIf}
!macroend
