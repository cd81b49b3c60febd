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

; Who may do what in the hidden store (the README's "Several users" tells it whole): the store and the
; shared folders made here belong to Administrators; SYSTEM and Administrators have full control; users
; may pass through, read the folder's attributes and access list, and create folders, in this folder
; only: they can neither list it nor rename or delete anything in it. Each folder a user's shell makes
; inside is that user's alone (the module gives it its own protected list), so nobody reaches another
; user's items, whatever order users hide in. The mirror of the profiles folder (Hidden\Users) is made
; here, so that no user owns a folder that leads to other users' items.
!define STORE_SDDL "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a4;;;BU)"
; What Program Files gives: administrators write, users read and run.
!define INSTALL_SDDL "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"

; Sets the owner and the protected list of one folder, and nothing below it: SetFileSecurityW does not
; carry the list on to what the folder holds, so a reinstall cannot open stored items to others.
; In: the SDDL, then the path on top of the stack. Out: 0, or the Win32 error of the step that failed.
Function SetFolderSecurity
    Exch $R0
    Exch
    Exch $R1
    Push $R2
    Push $R3
    Push $R4
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w R1, i 1, *p .R2, p 0) i .R3 ?e'
    Pop $R4
    ${If} $R3 == 0
        StrCpy $R0 $R4
    ${Else}
        ; OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
        System::Call 'advapi32::SetFileSecurityW(w R0, i 0x80000005, p R2) i .R3 ?e'
        Pop $R4
        ${If} $R3 == 0
            StrCpy $R0 $R4
            ${IfThen} $R0 == 0 ${|} StrCpy $R0 1 ${|}
        ${Else}
            StrCpy $R0 0
        ${EndIf}
        System::Call 'kernel32::LocalFree(p R2)'
    ${EndIf}
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
    Exch $R0
FunctionEnd

; Stops the setup before anything is installed; the message names the folder and the error.
!macro FailSetup TEXT
    MessageBox MB_ICONSTOP "${TEXT}" /SD IDOK
    DetailPrint "${TEXT}"
    ; Only what this setup made and left empty goes.
    RMDir "$INSTDIR\Hidden"
    RMDir "$INSTDIR"
    SetErrorLevel 4
    Abort
!macroend

; Every shell and every logon runs the module and orvane.exe from the install folder. Outside Program
; Files a folder may let users write (a new folder on another drive does), so it gets Program Files'
; rights before anything is put in it. Only a folder this setup makes, or an empty one, gets them: the
; rights of a folder that holds other things (a drive, a system folder) are not this setup's to change,
; and such a folder is refused. A folder of an earlier install already has them.
Function SecureInstallFolder
    StrLen $0 "$PROGRAMFILES64\"
    StrCpy $1 "$INSTDIR\" $0
    ${IfThen} $1 == "$PROGRAMFILES64\" ${|} Return ${|}
    StrLen $0 "$PROGRAMFILES\"
    StrCpy $1 "$INSTDIR\" $0
    ${IfThen} $1 == "$PROGRAMFILES\" ${|} Return ${|}
    ${IfThen} ${FileExists} "$INSTDIR\uninstall.exe" ${|} Return ${|}
    StrLen $0 "$INSTDIR"
    ${If} $0 <= 3
        !insertmacro FailSetup "Choose a folder for ${PRODUCT}, not the root of a drive."
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\*.*"
        FindFirst $0 $1 "$INSTDIR\*.*"
        ${DoWhile} $1 != ""
            ${If} $1 != "."
            ${AndIf} $1 != ".."
                FindClose $0
                !insertmacro FailSetup "$INSTDIR is not empty. Choose a new or empty folder for ${PRODUCT}."
            ${EndIf}
            FindNext $0 $1
        ${Loop}
        FindClose $0
    ${Else}
        ClearErrors
        CreateDirectory "$INSTDIR"
        ${If} ${Errors}
            !insertmacro FailSetup "The folder $INSTDIR could not be created."
        ${EndIf}
    ${EndIf}
    Push "${INSTALL_SDDL}"
    Push "$INSTDIR"
    Call SetFolderSecurity
    Pop $0
    ${If} $0 != 0
        !insertmacro FailSetup "The access rules of $INSTDIR could not be set (error $0)."
    ${EndIf}
FunctionEnd

; In: a folder path on the stack. Makes it with the store's rules; fails the setup when it cannot.
Function MakeStoreFolder
    Exch $R0
    Push $R1
    ClearErrors
    CreateDirectory "$R0"
    ${If} ${Errors}
    ${OrIfNot} ${FileExists} "$R0\*.*"
        !insertmacro FailSetup "The folder $R0 for hidden desktop items could not be created."
    ${EndIf}
    Push "${STORE_SDDL}"
    Push "$R0"
    Call SetFolderSecurity
    Pop $R1
    ${If} $R1 != 0
        RMDir "$R0"
        !insertmacro FailSetup "The access rules of $R0, the folder for hidden desktop items, could not be set (error $R1)."
    ${EndIf}
    Pop $R1
    Pop $R0
FunctionEnd

; The hidden store, made only when it is not there: a store kept from an earlier install keeps its
; rules and everything in it as it is.
Function PrepareStore
    ${If} ${FileExists} "$INSTDIR\Hidden\*.*"
        Return
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\Hidden"
        !insertmacro FailSetup "$INSTDIR\Hidden is a file: the folder for hidden desktop items cannot be made there."
    ${EndIf}
    Push "$INSTDIR\Hidden"
    Call MakeStoreFolder
    ; Then the mirror of the profiles folder, "\Users" of "C:\Users", one folder at a time.
    ReadRegStr $0 HKLM "SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList" "ProfilesDirectory"
    ExpandEnvStrings $0 $0
    StrCpy $1 $0 2 1
    ${IfThen} $1 != ":\" ${|} Return ${|}
    StrCpy $0 $0 "" 3
    StrCpy $2 "$INSTDIR\Hidden"
    ${DoWhile} $0 != ""
        StrCpy $3 0
        ${Do}
            StrCpy $4 $0 1 $3
            ${IfThen} $4 == "" ${|} ${ExitDo} ${|}
            ${IfThen} $4 == "\" ${|} ${ExitDo} ${|}
            IntOp $3 $3 + 1
        ${Loop}
        StrCpy $4 $0 $3
        IntOp $3 $3 + 1
        StrCpy $0 $0 "" $3
        ${If} $4 != ""
            StrCpy $2 "$2\$4"
            ${IfNot} ${FileExists} "$2\*.*"
                Push $2
                Call MakeStoreFolder
            ${EndIf}
        ${EndIf}
    ${Loop}
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
    Call SecureInstallFolder
    Call PrepareStore
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

; In: a folder of the store on the stack. Names in the details every file and link kept below it (the
; files of a kept folder one by one) and counts them in $8. It only reads names: a link is named, never
; followed.
Function un.NameKeptItems
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    FindFirst $R1 $R2 "$R0\*.*"
    ${DoWhile} $R2 != ""
        ${If} $R2 != "."
        ${AndIf} $R2 != ".."
            System::Call 'kernel32::GetFileAttributesW(w "$R0\$R2") i .R3'
            IntOp $R3 $R3 & 0x410
            ${If} $R3 = 0x10
                Push "$R0\$R2"
                Call un.NameKeptItems
            ${Else}
                DetailPrint "Kept: $R0\$R2"
                IntOp $8 $8 + 1
            ${EndIf}
        ${EndIf}
        FindNext $R1 $R2
    ${Loop}
    FindClose $R1
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

Section "Uninstall"
    !insertmacro UseSystemView
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    ; Unregistering brings every hidden item of the user who uninstalls back to the desktop, and then,
    ; with this setup's rights, every other user's item back to that user's desktop where its place is
    ; free; it removes the emptied folders of the store, and the store once nothing is left in it.
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\Plaxen.dll"'
    Delete /REBOOTOK "$INSTDIR\Plaxen.dll"
    Delete "$INSTDIR\Plaxen.chm"
    Delete "$INSTDIR\orvane.exe"
    Delete "$INSTDIR\uninstall.exe"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; What is still in the store could not go back: its place is taken, or its desktop is gone. It stays,
    ; and each item is named.
    RMDir "$INSTDIR\Hidden"
    ${If} ${FileExists} "$INSTDIR\Hidden\*.*"
        StrCpy $8 0
        Push "$INSTDIR\Hidden"
        Call un.NameKeptItems
        MessageBox MB_ICONINFORMATION "$8 hidden desktop items could not be brought back: their place on the desktop is taken, or the desktop they came from is gone. They are kept, each under its desktop's path, in$\r$\n$INSTDIR\Hidden" /SD IDOK
        DetailPrint "Hidden desktop items are kept in $INSTDIR\Hidden"
    ${EndIf}
    ; A module still loaded by a running shell goes at the next restart, and its folder with it.
    RMDir /REBOOTOK "$INSTDIR"
    RMDir "$INSTDIR\.."
SectionEnd
