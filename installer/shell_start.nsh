; Starting a program as the logged-on user, from an elevated setup.
;
; Whatever the setup starts itself (Exec, ShellExecute) inherits its
; administrator token, and a spooler started that way would parse the
; device's files, and anything other users drop into the Palm folders, as an
; administrator until the next log-on. The desktop's own shell runs with the
; logged-on user's token, so the setup asks the shell to start the program:
;
;   ShellWindows (the shell's list of its windows, served by Explorer)
;     FindWindowSW(SWC_DESKTOP)           the desktop window's browser
;     QueryService(SID_STopLevelBrowser)  its IShellBrowser
;     QueryActiveShellView                the desktop's folder view
;     GetItemObject(SVGIO_BACKGROUND)     that view as IShellFolderViewDual
;     get_Application                     Explorer's Shell.Application
;     IShellDispatch2::ShellExecute       runs inside Explorer
;
; Each call is made by its vtable index, through the System plugin. A
; VARIANT is passed by value: on x86 its 16 bytes go on the stack as four
; ints, on x64 (24 bytes) the ABI passes a pointer to a copy instead.
;
; Without a desktop shell (another shell, a server core, Explorer not
; running) the chain fails and nothing is started. There is no fallback to
; starting it from here: that is exactly the elevated start this avoids.

!define CLSID_ShellWindows "{9BA05972-F6A8-11CF-A442-00A0C90A8F39}"
!define IID_IShellWindows "{85CB6900-4D95-11CF-960C-0080C7F4EE85}"
!define IID_IServiceProvider "{6D5140C1-7436-11CE-8034-00AA006009FA}"
!define SID_STopLevelBrowser "{4C96BE40-915C-11CF-99D3-00AA004AE837}"
!define IID_IShellBrowser "{000214E2-0000-0000-C000-000000000046}"
!define IID_IDispatch "{00020400-0000-0000-C000-000000000046}"
!define IID_IShellFolderViewDual "{E7A1AF80-4D96-11CF-960C-0080C7F4EE85}"
!define IID_IShellDispatch2 "{A4C6892C-3BA9-11D2-9DEA-00C04FB16162}"

; One step of the chain, made only while every step before it succeeded:
; $0 holds the last HRESULT, and a step that succeeds without handing back
; its interface counts as failed.
!macro shellStep CALL OUT
    ${If} $0 = 0
        System::Call '${CALL}'
        ${If} $0 = 0
        ${AndIf} ${OUT} P= 0
            StrCpy $0 -2147467261  ; E_POINTER
        ${EndIf}
    ${EndIf}
!macroend

!macro releaseInterface REG
    ${If} ${REG} P<> 0
        System::Call '${REG}->2()'
    ${EndIf}
!macroend

; Asks the desktop shell to start the program on the stack (a full path),
; in its own folder. Leaves the error flag set if the shell could not be
; asked or refused; nothing is started then.
Function startAsTheLoggedOnUser
    Exch $R0  ; the program
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    Push $6
    Push $7
    Push $8
    Push $9
    Push $R1
    Push $R2
    Push $R3
    ; The interfaces, each released at the end if it was handed over.
    StrCpy $1 0
    StrCpy $2 0
    StrCpy $3 0
    StrCpy $4 0
    StrCpy $5 0
    StrCpy $6 0
    StrCpy $7 0
    StrCpy $8 0
    StrCpy $9 0
    ; Sections run in a thread of their own, where COM may not be set up yet.
    System::Call 'ole32::CoInitialize(p 0) i .R3'
    ; FindWindowSW's location (CSIDL_DESKTOP as VT_I4) and root (VT_EMPTY).
    System::Call '*(i 3, i 0, p 0, p 0) p .R1'
    System::Call '*(i 0, i 0, p 0, p 0) p .R2'
    System::Call 'ole32::CoCreateInstance(g "${CLSID_ShellWindows}", p 0, i 0x17, g "${IID_IShellWindows}", *p .r1) i .r0'
    ${If} $0 = 0
    ${AndIf} $1 P= 0
        StrCpy $0 -2147467261
    ${EndIf}
    ; SWC_DESKTOP 8, SWFO_NEEDDISPATCH 1; S_FALSE (no desktop) fails too.
    !insertmacro shellStep '$1->15(p R1, p R2, i 8, *i 0, i 1, *p .r2) i .r0' $2
    !insertmacro shellStep '$2->0(g "${IID_IServiceProvider}", *p .r3) i .r0' $3
    !insertmacro shellStep '$3->3(g "${SID_STopLevelBrowser}", g "${IID_IShellBrowser}", *p .r4) i .r0' $4
    !insertmacro shellStep '$4->15(*p .r5) i .r0' $5
    !insertmacro shellStep '$5->15(i 0, g "${IID_IDispatch}", *p .r6) i .r0' $6
    !insertmacro shellStep '$6->0(g "${IID_IShellFolderViewDual}", *p .r7) i .r0' $7
    !insertmacro shellStep '$7->7(*p .r8) i .r0' $8
    !insertmacro shellStep '$8->0(g "${IID_IShellDispatch2}", *p .r9) i .r0' $9
    System::Free $R1
    System::Free $R2
    ${If} $0 = 0
        Push $R0
        Push $9
        Call shellExecuteInExplorer
        Pop $0
    ${EndIf}
    !insertmacro releaseInterface $9
    !insertmacro releaseInterface $8
    !insertmacro releaseInterface $7
    !insertmacro releaseInterface $6
    !insertmacro releaseInterface $5
    !insertmacro releaseInterface $4
    !insertmacro releaseInterface $3
    !insertmacro releaseInterface $2
    !insertmacro releaseInterface $1
    ${If} $R3 >= 0  ; S_OK or S_FALSE: this thread's COM is ours to end
        System::Call 'ole32::CoUninitialize()'
    ${EndIf}
    ClearErrors
    ${If} $0 <> 0
        IntFmt $0 "0x%08X" $0
        DetailPrint "The desktop shell did not start $R0 ($0)"
        SetErrors
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $9
    Pop $8
    Pop $7
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
    Pop $R0
FunctionEnd

; IShellDispatch2::ShellExecute(file, args, dir, operation, show) on the
; interface on top of the stack, for the program under it, in the program's
; folder, shown normally; leaves the HRESULT.
Function shellExecuteInExplorer
    Exch $1  ; IShellDispatch2
    Exch
    Exch $2  ; the program
    Push $3
    Push $4
    Push $5
    Push $6
    Push $7
    Push $8
    Push $0
    ${GetParent} $2 $3
    System::Call 'oleaut32::SysAllocString(w r2) p .r4'
    System::Call 'oleaut32::SysAllocString(w r3) p .r5'
!if ${NSIS_PTR_SIZE} > 4
    System::Call '*(i 0, i 0, p 0, p 0) p .r6'   ; no arguments, the default verb
    System::Call '*(i 8, i 0, p r5, p 0) p .r7'  ; the folder, VT_BSTR
    System::Call '*(i 3, i 0, p 1, p 0) p .r8'   ; SW_SHOWNORMAL, VT_I4
    System::Call '$1->31(p r4, p r6, p r7, p r6, p r8) i .r0'
    System::Free $6
    System::Free $7
    System::Free $8
!else
    System::Call '$1->31(p r4, i 0, i 0, i 0, i 0, i 8, i 0, p r5, i 0, i 0, i 0, i 0, i 0, i 3, i 0, i 1, i 0) i .r0'
!endif
    System::Call 'oleaut32::SysFreeString(p r4)'
    System::Call 'oleaut32::SysFreeString(p r5)'
    StrCpy $1 $0
    Pop $0
    Pop $8
    Pop $7
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Exch $1
FunctionEnd
