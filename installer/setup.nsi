; The setup program: one FernquillSpooler-<version>-setup.exe for every
; Windows from XP on. On 64-bit Windows it installs the 64-bit program into
; the 64-bit Program Files and writes its registry entries in the 64-bit view;
; on 32-bit Windows it installs the 32-bit program. The setup itself is a
; 32-bit program, so it runs on both.
;
; Built on Linux by scripts/lib.sh (buildSetup), which passes:
;   VERSION  the project's version (1.1.0), from the CMake build
;   EXE64    the 64-bit FernquillSpooler.exe
;   EXE32    the 32-bit FernquillSpooler.exe
;   LICENSE  the licence text, shown on the licence page and installed
;   OUTFILE  where the setup program is written
; and, for the tests only, TEST_AMD64: the same setup as a 64-bit program,
; for test machines that run no 32-bit programs. It takes the 64-bit branch
; everywhere; the released setup never has it.
;
; The files:
;   product.nsh           names, registry keys, and the version strings read
;                         from app/resource.h
;   running_spooler.nsh   ending a running spooler before its files are
;                         touched (shared with the uninstaller), and
;                         starting it again
;   shell_start.nsh       starting it as the logged-on user, not elevated
;   options.nsh           the log-on entry and "Start the spooler now"
;   replace_program.nsh   replacing and removing the program while spoolers
;                         of other sessions run it
;   folder_rights.nsh     the install folder: refused unless it is the
;                         setup's own, and given Program Files' rights
;   uninstaller.nsh       what the uninstaller removes
Unicode true
!ifdef TEST_AMD64
  Target amd64-unicode
  ; RunningX64 is always true in a 64-bit setup, so its else branches go unused.
  !pragma warning disable 6012
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!ifndef VERSION | EXE64 | EXE32 | LICENSE | OUTFILE
  !error "makensis needs -DVERSION= -DEXE64= -DEXE32= -DLICENSE= -DOUTFILE= (see scripts/lib.sh buildSetup)"
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!include "product.nsh"

Name "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
; The 64-bit Program Files is chosen in .onInit, where the Windows is known.
InstallDir "$PROGRAMFILES\${PRODUCT_NAME}"
BrandingText "${PRODUCT_NAME} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

; The same version fields as the program's own version resource.
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT_PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT_NAME} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PRODUCT_COPYRIGHT}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!define MUI_ICON "../app/spooler.ico"
!define MUI_UNICON "../app/spooler.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
; An upgrade stays where the installed version is, so its folder is not asked.
!define MUI_PAGE_CUSTOMFUNCTION_PRE skipFolderOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start the spooler now"
!define MUI_FINISHPAGE_RUN_FUNCTION startSpoolerUnlessRunning
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

!include "shell_start.nsh"
!include "folder_rights.nsh"
!include "running_spooler.nsh"
!include "replace_program.nsh"
!include "uninstaller.nsh"

Section "${PRODUCT_NAME}" sectionProgram
    SectionIn RO
    ; Before anything is touched, a folder that isn't the setup's is refused;
    ; then the running spooler, which holds its program file, is ended.
    Call refuseForeignInstallFolder
    Call endRunningSpooler
    Call secureInstallFolder

    SetOutPath "$INSTDIR"
    ; First the program, which a spooler of another session may be running:
    ; written beside the old one, then put in its place. If that can't be
    ; done, the setup stops here and the earlier version stays registered.
    Delete "$INSTDIR\${NEW_PROGRAM_FILE}"
    ClearErrors
    ${If} ${RunningX64}
        File "/oname=${NEW_PROGRAM_FILE}" "${EXE64}"
    ${Else}
        File "/oname=${NEW_PROGRAM_FILE}" "${EXE32}"
    ${EndIf}
    Call putNewProgramInPlace
    ; Written afresh, not over an earlier install's files, which would keep
    ; whatever owner and rights they had.
    Delete "$INSTDIR\LICENSE.txt"
    File "/oname=LICENSE.txt" "${LICENSE}"
    Delete "$INSTDIR\${UNINSTALLER_FILE}"
    WriteUninstaller "$INSTDIR\${UNINSTALLER_FILE}"

    SetShellVarContext all
    CreateShortCut "$SMPROGRAMS\${PRODUCT_NAME}.lnk" "$INSTDIR\${PROGRAM_FILE}" "" "$INSTDIR\${PROGRAM_FILE}" 0

    ; One fixed key: installing again over it upgrades the one entry.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT_PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM_FILE},0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER_FILE}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER_FILE}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

!include "options.nsh"

; Last, once every file is in place: an upgrade brings back the spooler it
; ended.
Section "-restart"
    ${If} $spoolerWasRunning == 1
        Call startSpoolerUnlessRunning
    ${EndIf}
SectionEnd

Var installedFolder  ; where an earlier version is installed, or ""

Function .onInit
    !insertmacro requireAdministrator ""
    !insertmacro useNativeView
    ; /D= on the command line leaves its folder in $INSTDIR before .onInit.
    ${If} $INSTDIR == "$PROGRAMFILES\${PRODUCT_NAME}"
    ${AndIf} ${RunningX64}
        StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT_NAME}"
    ${EndIf}
    ReadRegStr $installedFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $installedFolder != ""
        StrCpy $INSTDIR $installedFolder
        Call keepLogonChoice
    ${EndIf}
FunctionEnd

Function skipFolderOnUpgrade
    ${If} $installedFolder != ""
        Abort
    ${EndIf}
FunctionEnd
