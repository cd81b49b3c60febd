; The setup program of Quillmar Orvane Deluxe. It holds both builds and installs the one that matches
; the system's shell: the 64-bit module on 64-bit Windows, the 32-bit module on 32-bit Windows.
;
;   makensis -DX64DIR=<x64 bin> -DX86DIR=<x86 bin> -DOUTFILE=<setup.exe> orvane.nsi
;
; Silent: setup.exe /S [/D=<directory>], and uninstall.exe /S. Exit codes of the setup:
;   0     installed
;   3010  installed; Windows must be restarted before the desktop uses the new module
;         (ERROR_SUCCESS_REBOOT_REQUIRED, as other installers report it)
;   3     installed, but the desktop menu could not be registered
;   2     refused: another folder was named while the installed one keeps hidden items
;   4     refused: an install folder outside Program Files that is not new or empty, or a folder for
;         hidden items that cannot be made with its access rules; nothing was installed
;   1     cancelled by the user
;
; An update or reinstall goes where the installed copy is (its uninstall entry's InstallLocation).

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

; The uninstaller copies itself into a temporary folder and runs from there. Before NSIS 3.09 that
; folder could be prepared by another user to run code of theirs with the uninstaller's rights
; (CVE-2023-37378). Debian's 3.08-3+deb12u1 carries the upstream fix (its changelog: "Cherry-pick
; upstream commits to fix CVE-2023-37378"); any other NSIS older than 3.09 does not build the release.
!if ${NSIS_PACKEDVERSION} < 0x03009000
    !searchparse /noerrors "${NSIS_VERSION}" "v3.08-3+deb12u" NSIS_DEBIAN_UPDATE
    !ifndef NSIS_DEBIAN_UPDATE
        !error "NSIS ${NSIS_VERSION} lacks the fix for CVE-2023-37378: build the setup with NSIS 3.09 or later, or Debian's 3.08-3+deb12u1 or later"
    !endif
!endif

!include "LogicLib.nsh"
!include "x64.nsh"
!include "MUI2.nsh"
!include "Sections.nsh"

!define PRODUCT "Quillmar Orvane Deluxe"
!define PUBLISHER "Quillmar"
!define VERSION "1.1.0.1"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmar Orvane Deluxe"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Quillmar Orvane Deluxe"
!define SESSION_MANAGER_KEY "SYSTEM\CurrentControlSet\Control\Session Manager"
; ERROR_SUCCESS_REBOOT_REQUIRED
!define EXIT_RESTART_NEEDED 3010

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
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
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


Var OldFolder    ; the folder of the installed copy, from its uninstall entry; "" when none
Var FolderNamed  ; 1 when /D= named the folder

; In: a folder on the stack. Out: $R9 = 1 when it or a folder below it holds a file or a link: the
; folders the setup makes in the store hold nothing by themselves.
Function FolderHoldsFiles
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    StrCpy $R9 0
    ClearErrors
    FindFirst $R1 $R2 "$R0\*.*"
    ${DoWhile} $R2 != ""
        ${If} $R2 != "."
        ${AndIf} $R2 != ".."
            System::Call 'kernel32::GetFileAttributesW(w "$R0\$R2") i .R3'
            IntOp $R3 $R3 & 0x410
            ${If} $R3 = 0x10
                Push "$R0\$R2"
                Call FolderHoldsFiles
            ${Else}
                StrCpy $R9 1
            ${EndIf}
            ${If} $R9 == 1
                ${Break}
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

; Out: $R9 = 1 when the store of the installed copy holds any item.
Function OldStoreHoldsItems
    Push "$OldFolder\Hidden"
    Call FolderHoldsFiles
FunctionEnd

; The hidden store lives beside the module: a module installed elsewhere would never find the items
; of the old store again. Another folder than the installed copy's is refused while that store holds
; items; silently, the setup ends with exit code 2.
Function RefuseToStrandHiddenItems
    ${If} $OldFolder == ""
        Return
    ${EndIf}
    GetFullPathName $R0 "$INSTDIR"
    GetFullPathName $R1 "$OldFolder"
    ${If} $R0 == $R1
        Return
    ${EndIf}
    Call OldStoreHoldsItems
    ${If} $R9 == 1
        MessageBox MB_ICONSTOP "${PRODUCT} is installed in$\r$\n$OldFolder$\r$\nand keeps hidden desktop items there. Install it into that folder, or show the items again (or uninstall) first." /SD IDOK
        ${If} ${Silent}
            SetErrorLevel 2
            Quit
        ${EndIf}
        Abort
    ${EndIf}
FunctionEnd

; Moving to another folder (the old store is empty): the old folder's program files go, the module
; at the next restart if a running desktop holds it. Nothing is unregistered: that would remove every
; user's profiles.
Function LeaveOldFolder
    ${If} $OldFolder == ""
        Return
    ${EndIf}
    GetFullPathName $R0 "$INSTDIR"
    GetFullPathName $R1 "$OldFolder"
    ${If} $R0 == $R1
        Return
    ${EndIf}
    Delete /REBOOTOK "$OldFolder\Plaxen.dll"
    Delete "$OldFolder\Plaxen.chm"
    Delete "$OldFolder\orvane.exe"
    Delete "$OldFolder\orvanew.exe"
    Delete "$OldFolder\uninstall.exe"
    RMDir "$OldFolder\Hidden"
    RMDir /REBOOTOK "$OldFolder"
FunctionEnd

; Windows carries out the pairs of PendingFileRenameOperations at the next restart: a file ("\??\"
; and its path), then what it becomes ("" removes it, "!\??\<path>" replaces that file). Every pair
; whose file is $INSTDIR or lies in it goes.
Function CancelPendingOperations
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
    Push $R0
    Push $R1
    StrCpy $R0 "\??\$INSTDIR"
    StrLen $R1 $R0
    ; KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY
    System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${SESSION_MANAGER_KEY}", i 0, i 0x103, *p .r0) i .r1'
    ${If} $1 != 0
        Goto done
    ${EndIf}
    System::Call 'advapi32::RegQueryValueExW(p r0, w "PendingFileRenameOperations", p 0, *i .r2, p 0, *i .r3) i .r1'
    ${If} $1 != 0
    ${OrIf} $3 == 0
        Goto close
    ${EndIf}
    ; Room for a final terminator that a writer may have left out.
    IntOp $3 $3 + 4
    System::Alloc $3
    Pop $4
    System::Alloc $3
    Pop $5
    System::Call 'advapi32::RegQueryValueExW(p r0, w "PendingFileRenameOperations", p 0, *i .r2, p r4, *i r3r3) i .r1'
    ${If} $1 != 0
        Goto free
    ${EndIf}
    ; $6 reads, $7 writes, $8 is the end of what was read.
    StrCpy $6 $4
    StrCpy $7 $5
    IntOp $8 $4 + $3
    StrCpy $2 0 ; pairs taken out
    ${Do}
        IntCmpU $6 $8 0 +2 0
        ${Break}
        System::Call 'kernel32::lstrlenW(p r6) i .r9'
        ${If} $9 == 0
            ${Break}
        ${EndIf}
        ; The pair's size in bytes: both strings with their terminators.
        IntOp $1 $9 + 1
        IntOp $1 $1 * 2
        IntOp $1 $6 + $1
        System::Call 'kernel32::lstrlenW(p r1) i .r1'
        IntOp $1 $1 + $9
        IntOp $1 $1 + 2
        IntOp $1 $1 * 2
        System::Call 'kernel32::lstrcpynW(w .r9, p r6, i ${NSIS_MAX_STRLEN})'
        StrCpy $9 $9 $R1
        ${If} $9 == $R0
            ; The folder itself, or a path in it (not a sibling such as "...Deluxe2").
            System::Call 'kernel32::lstrcpynW(w .r9, p r6, i ${NSIS_MAX_STRLEN})'
            StrCpy $9 $9 1 $R1
        ${Else}
            StrCpy $9 "other"
        ${EndIf}
        ${If} $9 == ""
        ${OrIf} $9 == "\"
            IntOp $2 $2 + 1
        ${Else}
            System::Call 'kernel32::RtlMoveMemory(p r7, p r6, i r1)'
            IntOp $7 $7 + $1
        ${EndIf}
        IntOp $6 $6 + $1
    ${Loop}
    ${If} $2 > 0
        System::Call '*$7(&i2 0)'
        IntOp $1 $7 - $5
        ${If} $1 == 0
            System::Call 'advapi32::RegDeleteValueW(p r0, w "PendingFileRenameOperations") i .r1'
        ${Else}
            IntOp $1 $1 + 2
            ; REG_MULTI_SZ
            System::Call 'advapi32::RegSetValueExW(p r0, w "PendingFileRenameOperations", i 0, i 7, p r5, i r1) i .r1'
        ${EndIf}
        DetailPrint "Cancelled $2 file operations left for the next restart in $INSTDIR."
    ${EndIf}
free:
    System::Free $4
    System::Free $5
close:
    System::Call 'advapi32::RegCloseKey(p r0)'
done:
    Pop $R1
    Pop $R0
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
FunctionEnd

; Files that an earlier update moved aside (name.N.old) go now, or at the next restart when a process
; still holds them: the cancelled removals are asked for again.
Function RemoveFilesMovedAside
    Push $0
    Push $1
    ClearErrors
    FindFirst $0 $1 "$INSTDIR\*.old"
    ${DoWhile} $1 != ""
        Delete /REBOOTOK "$INSTDIR\$1"
        FindNext $0 $1
    ${Loop}
    FindClose $0
    Pop $1
    Pop $0
FunctionEnd

; In: $R0 the file's name in $INSTDIR. A file that a running process holds (the module in every shell
; that ran an action) cannot be overwritten but can be renamed: it moves aside to a free name.N.old,
; which goes at the next restart. Out: $R1 = 1 when the name is free now.
Function MoveAside
    StrCpy $R1 1
    ${IfNot} ${FileExists} "$INSTDIR\$R0"
        Return
    ${EndIf}
    Delete "$INSTDIR\$R0"
    ${IfNot} ${FileExists} "$INSTDIR\$R0"
        Return
    ${EndIf}
    StrCpy $R2 1
    ${DoWhile} ${FileExists} "$INSTDIR\$R0.$R2.old"
        IntOp $R2 $R2 + 1
    ${Loop}
    ClearErrors
    Rename "$INSTDIR\$R0" "$INSTDIR\$R0.$R2.old"
    ${If} ${Errors}
        StrCpy $R1 0
        Return
    ${EndIf}
    Delete /REBOOTOK "$INSTDIR\$R0.$R2.old"
FunctionEnd

; Puts NAME from DIR into $INSTDIR: now, or, where the old file can neither go nor move aside, beside
; it as NAME.new, which replaces it at the next restart.
!macro PutInPlace DIR NAME
    StrCpy $R0 "${NAME}"
    Call MoveAside
    ${If} $R1 == 1
        File "${DIR}\${NAME}"
    ${Else}
        File "/oname=${NAME}.new" "${DIR}\${NAME}"
        Rename /REBOOTOK "$INSTDIR\${NAME}.new" "$INSTDIR\${NAME}"
    ${EndIf}
!macroend

Function un.onInit
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
FunctionEnd

Section "Quillmar Orvane Deluxe (required)" SecMain
    SectionIn RO
    !insertmacro UseSystemView
    ; An uninstall or an update since the last restart may have left removals of these very files
    ; for the next restart: they would take away what is installed now.
    Call CancelPendingOperations
    ; Nothing of the old folder goes before the new one is known to be safe to use.
    Call SecureInstallFolder
    Call PrepareStore
    Call LeaveOldFolder
    SetOutPath "$INSTDIR"
    Call RemoveFilesMovedAside
    ${If} ${RunningX64}
        !insertmacro PutInPlace "${X64DIR}" "Plaxen.dll"
        !insertmacro PutInPlace "${X64DIR}" "Plaxen.chm"
        !insertmacro PutInPlace "${X64DIR}" "orvane.exe"
        !insertmacro PutInPlace "${X64DIR}" "orvanew.exe"
    ${Else}
        !insertmacro PutInPlace "${X86DIR}" "Plaxen.dll"
        !insertmacro PutInPlace "${X86DIR}" "Plaxen.chm"
        !insertmacro PutInPlace "${X86DIR}" "orvane.exe"
        !insertmacro PutInPlace "${X86DIR}" "orvanew.exe"
    ${EndIf}

    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The new module when it is in place now. When it only replaces the loaded one at the next
    ; restart, the loaded one registers the same path, which then holds the new module.
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
    ; The windowless twin, so that no console window flashes at logon.
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\orvanew.exe" restore-startup --quiet --wait 60'
SectionEnd

; Undoes what an earlier install's options did and this one's do not, and says when a restart is due.
Section "-Finish"
    !insertmacro UseSystemView
    ${IfNot} ${SectionIsSelected} ${SecLogon}
        DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    ${EndIf}
    ${If} ${RebootFlag}
        DetailPrint "Windows must be restarted to finish: the desktop keeps the earlier module until then."
        MessageBox MB_ICONINFORMATION "Restart Windows to finish the installation: until then the desktop keeps using the version that was installed before." /SD IDOK
        GetErrorLevel $0
        ${If} $0 <= 0
            SetErrorLevel ${EXIT_RESTART_NEEDED}
        ${EndIf}
    ${EndIf}
SectionEnd

Function .onInit
    ; /D= sets the folder before this runs; untouched, it is still the compiled default.
    StrCpy $FolderNamed 1
    ${If} $INSTDIR == "$PROGRAMFILES\Quillmar\Orvane Deluxe"
        StrCpy $FolderNamed 0
    ${EndIf}
    ${If} ${RunningX64}
        SetRegView 64
        ${If} $FolderNamed == 0
            StrCpy $INSTDIR "$PROGRAMFILES64\Quillmar\Orvane Deluxe"
        ${EndIf}
    ${EndIf}
    ; An installed copy: the update goes where it is, and keeps its options.
    ReadRegStr $OldFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $OldFolder != ""
    ${AndIf} ${FileExists} "$OldFolder\*.*"
        ${If} $FolderNamed == 0
            StrCpy $INSTDIR $OldFolder
        ${EndIf}
        ClearErrors
        ReadRegStr $0 HKLM "${RUN_KEY}" "${RUN_VALUE}"
        ${If} ${Errors}
            !insertmacro UnselectSection ${SecLogon}
        ${EndIf}
    ${Else}
        StrCpy $OldFolder ""
    ${EndIf}
    ${If} ${Silent}
        Call RefuseToStrandHiddenItems
    ${EndIf}
FunctionEnd

Function DirectoryLeave
    Call RefuseToStrandHiddenItems
FunctionEnd

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
    Delete "$INSTDIR\orvanew.exe"
    Delete "$INSTDIR\uninstall.exe"
    ; What an update moved aside because a running program held it.
    Delete /REBOOTOK "$INSTDIR\*.old"
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
