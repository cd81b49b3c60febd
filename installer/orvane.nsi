; The setup program of Quillmar Orvane Deluxe. It holds both builds and installs the one that matches
; the system's shell: the 64-bit module on 64-bit Windows, the 32-bit module on 32-bit Windows.
;
;   makensis -DX64DIR=<x64 bin> -DX86DIR=<x86 bin> -DOUTFILE=<setup.exe> orvane.nsi
;
; Silent: setup.exe /S [/D=<directory>], and uninstall.exe /S.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "LogicLib.nsh"
!include "x64.nsh"
!include "MUI2.nsh"

!define PRODUCT "Quillmar Orvane Deluxe"
!define PUBLISHER "Quillmar"
!define VERSION "1.1.0.1"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmar Orvane Deluxe"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Quillmar Orvane Deluxe"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Quillmar\Orvane Deluxe"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The system's own view of files and registry: the 64-bit one on 64-bit Windows.
!macro UseSystemView
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
        SetRegView 64
    ${EndIf}
!macroend

; In: the store's path on the stack. Out: 0, or the Win32 error of the step that failed.
Function SetStoreAccess
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    ; 0x1000A6: traverse, add file, add subdirectory, read attributes, synchronize.
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;CI;0x1000A6;;;BU)", i 1, *p .R1, p 0) i .R2 ?e'
    Pop $R3
    ${If} $R2 == 0
        StrCpy $R0 $R3
    ${Else}
        System::Call 'advapi32::GetSecurityDescriptorDacl(p R1, *i .R2, *p .R3, *i .r9) i .R2'
        ; SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
        System::Call 'advapi32::SetNamedSecurityInfoW(w R0, i 1, i 0x80000004, p 0, p 0, p R3, p 0) i .R2'
        StrCpy $R0 $R2
        System::Call 'kernel32::LocalFree(p R1)'
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R1
    Exch $R0
FunctionEnd

Function .onInit
    ${If} ${RunningX64}
        SetRegView 64
        ; Unless /D= named a directory, the 64-bit Program Files.
        ${If} $INSTDIR == "$PROGRAMFILES\Quillmar\Orvane Deluxe"
            StrCpy $INSTDIR "$PROGRAMFILES64\Quillmar\Orvane Deluxe"
        ${EndIf}
    ${EndIf}
FunctionEnd

Function un.onInit
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
FunctionEnd

Section "Quillmar Orvane Deluxe (required)" SecMain
    SectionIn RO
    !insertmacro UseSystemView
    SetOutPath "$INSTDIR"
    ${If} ${RunningX64}
        File "${X64DIR}\Plaxen.dll"
        File "${X64DIR}\Plaxen.chm"
        File "${X64DIR}\orvane.exe"
    ${Else}
        File "${X86DIR}\Plaxen.dll"
        File "${X86DIR}\Plaxen.chm"
        File "${X86DIR}\orvane.exe"
    ${EndIf}

    ; The hidden store: every user's shell moves that user's hidden items in here, under folders named
    ; after the item's path. Users may pass through the folders and create folders and files, but not
    ; list or read them; what a user creates belongs to that user (CREATOR OWNER), so no user reads
    ; another's items. SYSTEM and Administrators keep full control. The list is protected: nothing is
    ; inherited from Program Files.
    CreateDirectory "$INSTDIR\Hidden"
    Push "$INSTDIR\Hidden"
    Call SetStoreAccess
    Pop $0
    ${If} $0 != 0
        DetailPrint "The access rules of $INSTDIR\Hidden could not be set (error $0)."
    ${EndIf}

    WriteUninstaller "$INSTDIR\uninstall.exe"

    ClearErrors
    ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\Plaxen.dll"' $0
    ${If} ${Errors}
    ${OrIf} $0 != 0
        MessageBox MB_ICONEXCLAMATION "The desktop menu could not be registered (regsvr32 ended with $0)." /SD IDOK
        SetErrorLevel 3
    ${EndIf}

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orvane.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ; In KB, as the list of programs shows it.
    StrCpy $1 0
    FindFirst $2 $3 "$INSTDIR\*.*"
    ${DoWhile} $3 != ""
        ${If} ${FileExists} "$INSTDIR\$3"
        ${AndIfNot} ${FileExists} "$INSTDIR\$3\*.*"
            FileOpen $4 "$INSTDIR\$3" r
            FileSeek $4 0 END $5
            FileClose $4
            IntOp $1 $1 + $5
        ${EndIf}
        FindNext $2 $3
    ${Loop}
    FindClose $2
    IntOp $1 $1 / 1024
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
SectionEnd

Section "Restore the logon icon positions at every logon" SecLogon
    !insertmacro UseSystemView
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\orvane.exe" restore-startup --quiet --wait 60'
SectionEnd

Section "Uninstall"
    !insertmacro UseSystemView
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    ; Unregistering brings every hidden item of the user who uninstalls back to the desktop.
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\Plaxen.dll"'
    Delete /REBOOTOK "$INSTDIR\Plaxen.dll"
    Delete "$INSTDIR\Plaxen.chm"
    Delete "$INSTDIR\orvane.exe"
    Delete "$INSTDIR\uninstall.exe"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; Only an empty store goes: files of other users' hidden items stay where they are.
    RMDir "$INSTDIR\Hidden"
    ${If} ${FileExists} "$INSTDIR\Hidden\*.*"
        MessageBox MB_ICONINFORMATION "Some hidden desktop items could not be brought back and are kept in$\r$\n$INSTDIR\Hidden" /SD IDOK
        DetailPrint "Hidden desktop items are kept in $INSTDIR\Hidden"
    ${EndIf}
    ; A module still loaded by a running shell goes at the next restart, and its folder with it.
    RMDir /REBOOTOK "$INSTDIR"
    RMDir "$INSTDIR\.."
SectionEnd
