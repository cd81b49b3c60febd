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
;   4     refused: an install folder on a path that users other than administrators can change (or,
;         outside Program Files, one that the setup cannot make itself), or a folder for hidden items
;         that cannot be made or given its owner and access rules; nothing was installed
;   5     refused: run by the SYSTEM account (the uninstaller too); nothing was changed
;   6     refused: the Windows Installer package is installed; nothing was changed
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
!include "FileFunc.nsh"

!define PRODUCT "Quillmar Orvane Deluxe"
!define PUBLISHER "Quillmar"
!define VERSION "1.1.0.1"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmar Orvane Deluxe"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Quillmar Orvane Deluxe"
!define PROFILE_LIST_KEY "SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList"
; Written by the Windows Installer package while it is installed: its product code.
!define PACKAGE_KEY "Software\Quillmar\Orvane Deluxe"
!define EXIT_PACKAGE_INSTALLED 6
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

; The hidden store and its shared folders (the README's "Several users" tells who may do what) are made
; and secured by OrvaneSetup.dll, through handles (store/store_setup.h): below Program Files in the
; machine's program data folder, elsewhere beside the module, where the module finds them.
; What Program Files gives: administrators write, users read and run.
!define INSTALL_SDDL "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
; The owner that Windows Resource Protection gives the system's own folders.
!define TRUSTED_INSTALLER_SID "S-1-5-80-956008885-3425019274-1844829596-88849432-2271166216"
!define /math SECURITY_ATTRIBUTES_SIZE ${NSIS_PTR_SIZE} * 3

; Rights on a folder that let their holder change where a path through it leads: delete the folder
; (DELETE) or what it holds (FILE_DELETE_CHILD), add folders to it (FILE_ADD_SUBDIRECTORY), change its
; rules or owner (WRITE_DAC, WRITE_OWNER), and the generic rights that include them. The root of a
; drive lets every signed-in user add files and folders (Windows gives Authenticated Users "Create
; folders" on C:\ and Modify on the root of other drives, whose DELETE cannot delete a root): that
; changes no path through a folder that exists or that the setup makes, so there only deleting what it
; holds and changing its rules or owner count. The install folder itself must not take others' files
; either (FILE_ADD_FILE): nobody may put a library beside the module.
!define OPEN_ON_ROOT 0x100C0040
!define OPEN_ON_PARENT 0x500D0044
!define OPEN_ON_FOLDER 0x500D0046
; GetFileAttributesW: the invalid value, and FILE_ATTRIBUTE_DIRECTORY with FILE_ATTRIBUTE_REPARSE_POINT.
!define FOLDER_OR_LINK 0x410
!define ERROR_ALREADY_EXISTS 183
; CreateFileW for a folder: every sharing, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS |
; FILE_FLAG_OPEN_REPARSE_POINT (a link is opened itself, never followed).
!define OPEN_FOLDER_ITSELF "i 7, p 0, i 3, i 0x02200000, p 0"
; OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
!define OWNER_AND_PROTECTED_LIST 0x80000005

Var SetupUser       ; the SID of the user who runs the setup
Var OldFolder       ; the folder of the installed copy, from its uninstall entry; "" when none
Var FolderNamed     ; 1 when /D= named the folder
Var FolderMadeFrom  ; the first folder of the install folder's path that this run made; "" when none
Var StoreDir        ; the hidden store of the module installed in $INSTDIR

; Stops the setup before anything is installed; the message names the folder and the error.
!macro FailSetup TEXT
    MessageBox MB_ICONSTOP "${TEXT}" /SD IDOK
    DetailPrint "${TEXT}"
    Call RemoveWhatSetupMade
    SetErrorLevel 4
    Abort
!macroend

; NSIS up to 3.11 (Debian's 3.08 too) may, in a process of the SYSTEM account, take as its temporary
; folder one that other users can prepare (CVE-2026-42171): the choice is made at start-up, before the
; script runs, and each plug-in call then unpacks a DLL into that folder and loads it with SYSTEM's
; rights. So the setup and its uninstaller stop at once when SYSTEM runs them, which is how management
; systems run installers; those have the Windows Installer packages. The first test needs no plug-in:
; $PROFILE is the profile folder of the process token's user, which the shell looks up by the token's
; SID in the machine's profile list; SYSTEM's is listed there (S-1-5-18) as
; "%SystemRoot%\System32\config\systemprofile", which a 32-bit process may also see in SysWOW64. Only
; then is the token's user itself read, with a plug-in.
!define EXIT_SYSTEM_ACCOUNT 5
!macro SystemAccountFunctions UN WHAT
    ; Out: $R9 = the SID of the process token's user as text, or "" when it cannot be read.
    Function ${UN}TokenUser
        Push $0
        Push $1
        Push $2
        StrCpy $R9 ""
        ; TOKEN_QUERY
        System::Call 'advapi32::OpenProcessToken(p -1, i 8, *p .r0) i .r1'
        ${If} $1 <> 0
            System::Alloc 256
            Pop $2
            ; TokenUser: a TOKEN_USER, whose first member is the SID's address.
            System::Call 'advapi32::GetTokenInformation(p r0, i 1, p r2, i 256, *i .r1) i .r1'
            ${If} $1 <> 0
                System::Call '*$2(p .r1)'
                System::Call 'advapi32::ConvertSidToStringSidW(p r1, *p .r1) i .r2'
                ${If} $2 <> 0
                    System::Call 'kernel32::lstrcpynW(w .R9, p r1, i ${NSIS_MAX_STRLEN})'
                    System::Call 'kernel32::LocalFree(p r1)'
                ${EndIf}
            ${EndIf}
            System::Free $2
            System::Call 'kernel32::CloseHandle(p r0)'
        ${EndIf}
        Pop $2
        Pop $1
        Pop $0
    FunctionEnd

    ; Ends the program with its own exit code when the SYSTEM account runs it. Out: $R9 as TokenUser.
    Function ${UN}RefuseSystemAccount
        ReadRegStr $R9 HKLM64 "${PROFILE_LIST_KEY}\S-1-5-18" "ProfileImagePath"
        ${If} $R9 == ""
            ReadRegStr $R9 HKLM "${PROFILE_LIST_KEY}\S-1-5-18" "ProfileImagePath"
        ${EndIf}
        ExpandEnvStrings $R9 $R9
        ${If} $PROFILE == "$WINDIR\System32\config\systemprofile"
        ${OrIf} $PROFILE == "$WINDIR\SysWOW64\config\systemprofile"
            Goto refuse
        ${EndIf}
        ${If} $R9 != ""
        ${AndIf} $PROFILE == $R9
            Goto refuse
        ${EndIf}
        Call ${UN}TokenUser
        ${If} $R9 != "S-1-5-18"
            Return
        ${EndIf}
    refuse:
        MessageBox MB_ICONSTOP "${PRODUCT} cannot be ${WHAT} by the SYSTEM account: this program would then use a temporary folder that other users can prepare. For deployment by a management system use the Windows Installer package, OrvaneDeluxe-x64.msi for 64-bit Windows or OrvaneDeluxe-x86.msi for 32-bit Windows; otherwise run this program as an administrator." /SD IDOK
        SetErrorLevel ${EXIT_SYSTEM_ACCOUNT}
        Quit
    FunctionEnd
!macroend
!insertmacro SystemAccountFunctions "" "installed"
!insertmacro SystemAccountFunctions "un." "removed"

; In: a path on the stack. Out: $R9 = its full path as GetFullPathNameW makes it ("." and ".." taken
; out, a relative path put below the current folder) without a trailing backslash, or "" when none.
Function FullPath
    Exch $R0
    Push $R1
    Push $R2
    StrCpy $R9 ""
    System::Call 'kernel32::GetFullPathNameW(w R0, i ${NSIS_MAX_STRLEN}, w .R1, p 0) i .R2'
    ${If} $R2 > 0
    ${AndIf} $R2 < ${NSIS_MAX_STRLEN}
        StrCpy $R9 $R1
        ${Do}
            StrLen $R2 $R9
            StrCpy $R1 $R9 1 -1
            ${If} $R2 <= 3
            ${OrIf} $R1 != "\"
                ${ExitDo}
            ${EndIf}
            StrCpy $R9 $R9 -1
        ${Loop}
    ${EndIf}
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; In: a folder, then (on top) a full path. Out: $R9 = 1 when the path lies below the folder (letters
; compared without case, as Windows compares names), else 0.
Function IsBelow
    Exch $R0
    Exch
    Exch $R1
    Push $R2
    StrCpy $R9 0
    StrLen $R2 "$R1\"
    StrCpy $R2 $R0 $R2
    ${If} $R1 != ""
    ${AndIf} $R2 == "$R1\"
        StrCpy $R9 1
    ${EndIf}
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; In: "a\b\c" on the stack. Out: $R8 = "a", $R9 = "b\c".
Function FirstPiece
    Exch $R0
    Push $R1
    Push $R2
    StrCpy $R1 0
    ${Do}
        StrCpy $R2 $R0 1 $R1
        ${IfThen} $R2 == "" ${|} ${ExitDo} ${|}
        ${IfThen} $R2 == "\" ${|} ${ExitDo} ${|}
        IntOp $R1 $R1 + 1
    ${Loop}
    StrCpy $R8 $R0 $R1
    IntOp $R1 $R1 + 1
    StrCpy $R9 $R0 "" $R1
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; In: a SID's address on the stack. Out: $R8 = 1 when it is SYSTEM, Administrators, TrustedInstaller or
; the user who runs the setup (an administrator: Windows does not hold the line between the user's
; elevated and other processes as a security boundary, and Wine gives every file that user's SID).
Function SidIsTrusted
    Exch $R0
    Push $R1
    Push $R2
    StrCpy $R8 0
    System::Call 'advapi32::ConvertSidToStringSidW(p R0, *p .R1) i .R2'
    ${If} $R2 <> 0
        System::Call 'kernel32::lstrcpynW(w .R2, p R1, i ${NSIS_MAX_STRLEN})'
        System::Call 'kernel32::LocalFree(p R1)'
        ${If} $R2 == "S-1-5-18"
        ${OrIf} $R2 == "S-1-5-32-544"
        ${OrIf} $R2 == "${TRUSTED_INSTALLER_SID}"
        ${OrIf} $R2 == $SetupUser
            StrCpy $R8 1
        ${EndIf}
    ${EndIf}
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; In: the rights nobody else may hold (one of OPEN_ON_*), then (on top) a folder. Out: $R9 = 0 when the
; folder, read through a handle that does not follow a link, is a folder and no link, belongs to a
; trusted owner (SidIsTrusted) and allows nobody else any of those rights on itself; else 1. A denial
; is not weighed against an allowance, and an entry of another kind is taken as an allowance.
Function FolderOpenToOthers
    Exch $R0
    Exch
    Exch $R1
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    Push $6
    Push $7
    Push $R8
    StrCpy $R9 1
    ; Wine shows a Unix link by the path's attributes only, Windows by these and the handle's.
    System::Call 'kernel32::GetFileAttributesW(w R0) i .r0'
    IntOp $0 $0 & ${FOLDER_OR_LINK}
    ${If} $0 <> 0x10
        Goto done
    ${EndIf}
    ; READ_CONTROL | FILE_READ_ATTRIBUTES
    System::Call 'kernel32::CreateFileW(w R0, i 0x20080, ${OPEN_FOLDER_ITSELF}) p .r0'
    ${If} $0 = -1
        Goto done
    ${EndIf}
    ; BY_HANDLE_FILE_INFORMATION begins with the attributes.
    System::Alloc 52
    Pop $1
    System::Call 'kernel32::GetFileInformationByHandle(p r0, p r1) i .r2'
    System::Call '*$1(i .r3)'
    System::Free $1
    IntOp $3 $3 & ${FOLDER_OR_LINK}
    StrCpy $4 0
    ${If} $2 <> 0
    ${AndIf} $3 = 0x10
        ; The owner and the access list (OWNER | DACL), with the descriptor that holds them.
        System::Call 'advapi32::GetSecurityInfo(p r0, i 1, i 5, *p .r5, p 0, *p .r6, p 0, *p .r4) i .r2'
        ${IfThen} $2 <> 0 ${|} StrCpy $4 0 ${|}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    ${If} $4 = 0
        Goto done
    ${EndIf}
    Push $5
    Call SidIsTrusted
    ; No list at all lets everyone do everything.
    ${If} $R8 = 1
    ${AndIf} $6 <> 0
        StrCpy $R9 0
        ; ACL: revision, padding, size, then the number of entries.
        System::Call '*$6(&i1, &i1, &i2, &i2 .r2)'
        StrCpy $3 0
        ${DoWhile} $3 < $2
            System::Call 'advapi32::GetAce(p r6, i r3, *p .r5) i .r7'
            ${If} $7 = 0
                StrCpy $R9 1
                ${Break}
            ${EndIf}
            ; ACE_HEADER (type, flags, size), then the rights and the SID.
            System::Call '*$5(&i1 .r7, &i1 .r1, &i2, i .r0)'
            ${If} $7 = 0
                ; An entry only for what is made inside (INHERIT_ONLY_ACE) grants nothing here.
                IntOp $1 $1 & 8
                IntOp $0 $0 & $R1
                ${If} $1 = 0
                ${AndIf} $0 <> 0
                    IntOp $5 $5 + 8
                    Push $5
                    Call SidIsTrusted
                    ${If} $R8 <> 1
                        StrCpy $R9 1
                        ${Break}
                    ${EndIf}
                ${EndIf}
            ${ElseIf} $7 <> 1
                StrCpy $R9 1
                ${Break}
            ${EndIf}
            IntOp $3 $3 + 1
        ${Loop}
    ${EndIf}
    System::Call 'kernel32::LocalFree(p r4)'
done:
    Pop $R8
    Pop $7
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
    Pop $R1
    Pop $R0
FunctionEnd

; In: an SDDL, then (on top) a folder. Makes the folder with that owner and access list in the one
; call (CreateDirectoryW with SECURITY_ATTRIBUTES), so that nobody ever holds it open with rights the
; list does not give. Out: $R9 = 0 when made, else the Win32 error (ERROR_ALREADY_EXISTS when there).
Function MakeFolderWithRules
    Exch $R0
    Exch
    Exch $R1
    Push $R2
    Push $R3
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w R1, i 1, *p .R2, p 0) i .R3 ?e'
    Pop $R9
    ${If} $R3 <> 0
        ; SECURITY_ATTRIBUTES: its size, the descriptor, no inheritance of the handle.
        System::Call '*(i ${SECURITY_ATTRIBUTES_SIZE}, p R2, i 0) p .R1'
        System::Call 'kernel32::CreateDirectoryW(w R0, p R1) i .R3 ?e'
        Pop $R9
        ${IfThen} $R3 <> 0 ${|} StrCpy $R9 0 ${|}
        System::Free $R1
        System::Call 'kernel32::LocalFree(p R2)'
    ${EndIf}
    ${If} $R3 = 0
    ${AndIf} $R9 = 0
        StrCpy $R9 1
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; In: the folder made first, then (on top) the deepest one made after it. Removes each of them that
; is empty, deepest first.
Function RemoveMadeFolders
    Exch $R0
    Exch
    Exch $R1
    Push $R2
    Push $R3
    StrLen $R2 $R1
    ${Do}
        StrLen $R3 $R0
        ${IfThen} $R3 < $R2 ${|} ${ExitDo} ${|}
        RMDir $R0
        ${IfThen} $R3 = $R2 ${|} ${ExitDo} ${|}
        ${GetParent} $R0 $R0
    ${Loop}
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; What a stopped setup takes away again: the folders it made, where they are still empty.
Function RemoveWhatSetupMade
    ${If} $FolderMadeFrom != ""
        Push $FolderMadeFrom
        Push $INSTDIR
        Call RemoveMadeFolders
    ${EndIf}
FunctionEnd

; The install folder as Windows will find it: its full path, "." and ".." taken out.
Function ResolveInstallFolder
    Push $INSTDIR
    Call FullPath
    ${If} $R9 == ""
        !insertmacro FailSetup "$INSTDIR cannot be used as the folder of ${PRODUCT}."
    ${EndIf}
    StrCpy $INSTDIR $R9
FunctionEnd

; Every shell and every logon runs the module and orvane.exe from the install folder, so nobody but
; administrators may change it or any folder on its path. Program Files and what administrators make
; in it are so. Elsewhere the setup takes only the folder of the installed copy (known by its uninstall
; entry, which only administrators write) or a folder that it makes itself, with Program Files' rights
; in the same call, as it makes each missing folder above it; and only when the folders that exist on
; the way are folders (no links) that only administrators can change.
Function SecureInstallFolder
    StrCpy $FolderMadeFrom ""
    Push $PROGRAMFILES64
    Call FullPath
    Push $R9
    Push $INSTDIR
    Call IsBelow
    ${If} $R9 <> 1
        Push $PROGRAMFILES
        Call FullPath
        Push $R9
        Push $INSTDIR
        Call IsBelow
    ${EndIf}
    StrCpy $7 $R9
    StrCpy $0 $INSTDIR 2 1
    StrLen $1 $INSTDIR
    ${If} $0 != ":\"
    ${OrIf} $1 <= 3
        !insertmacro FailSetup "Choose a folder on a drive of this computer for ${PRODUCT}, not the root of a drive: $INSTDIR cannot be used."
    ${EndIf}
    Call IsOldFolder
    StrCpy $8 $R9
    ; The folders on the way, from the root of the drive ($2 the one reached, $3 what is left); $4 the
    ; first that is missing.
    StrCpy $2 $INSTDIR 2
    StrCpy $3 $INSTDIR "" 3
    StrCpy $4 ""
    ; Every folder that exists on the way is checked, below Program Files too: another product may have
    ; left a folder there that users can change.
    Push ${OPEN_ON_ROOT}
    Push "$2\"
    Call FolderOpenToOthers
    ${If} $R9 <> 0
        !insertmacro FailSetup "Users other than administrators can change $2\, the drive of $INSTDIR. Install ${PRODUCT} into Program Files."
    ${EndIf}
    ${Do}
        Push $3
        Call FirstPiece
        StrCpy $3 $R9
        ${If} $R8 != ""
            StrCpy $2 "$2\$R8"
            ${If} $4 == ""
                System::Call 'kernel32::GetFileAttributesW(w r2) i .r5'
                ${If} $5 = -1
                    StrCpy $4 $2
                ${ElseIf} $3 != ""
                    Push ${OPEN_ON_PARENT}
                    Push $2
                    Call FolderOpenToOthers
                    ${If} $R9 <> 0
                        !insertmacro FailSetup "$2, a folder above $INSTDIR, is a link, or users other than administrators can change it (delete or add folders, change its rights or owner). Choose a folder below folders that only administrators can change."
                    ${EndIf}
                ${ElseIf} $7 = 1
                    ; An existing folder in Program Files: only administrators may change it.
                    Push ${OPEN_ON_FOLDER}
                    Push $2
                    Call FolderOpenToOthers
                    ${If} $R9 <> 0
                        !insertmacro FailSetup "$INSTDIR exists, and it is a link or users other than administrators can change it (add files or folders, delete it, change its rights or owner). Choose another folder."
                    ${EndIf}
                ${ElseIf} $8 <> 1
                    !insertmacro FailSetup "$INSTDIR already exists. Outside Program Files ${PRODUCT} is installed only into a new folder that the setup makes itself: choose a folder that does not exist yet."
                ${Else}
                    Push ${OPEN_ON_FOLDER}
                    Push $2
                    Call FolderOpenToOthers
                    ${If} $R9 <> 0
                        !insertmacro FailSetup "${PRODUCT} is installed in $INSTDIR, but users other than administrators can change that folder. Uninstall it, then install it into Program Files."
                    ${EndIf}
                ${EndIf}
            ${EndIf}
        ${EndIf}
        ${IfThen} $3 == "" ${|} ${ExitDo} ${|}
    ${Loop}
    ${If} $4 == ""
        Return
    ${EndIf}
    ; The missing folders, from the first down to the install folder.
    StrCpy $FolderMadeFrom $4
    ${If} $7 = 1
        ; What is made in Program Files takes its rules.
        ClearErrors
        CreateDirectory "$INSTDIR"
        ${If} ${Errors}
            !insertmacro FailSetup "The folder $INSTDIR could not be made."
        ${EndIf}
        Return
    ${EndIf}
    StrLen $5 $4
    StrCpy $2 $INSTDIR 2
    StrCpy $3 $INSTDIR "" 3
    ${Do}
        Push $3
        Call FirstPiece
        StrCpy $3 $R9
        ${If} $R8 != ""
            StrCpy $2 "$2\$R8"
            StrLen $6 $2
            ${If} $6 >= $5
                Push "${INSTALL_SDDL}"
                Push $2
                Call MakeFolderWithRules
                ${If} $R9 <> 0
                    !insertmacro FailSetup "The folder $2 could not be made with its access rules (error $R9)."
                ${EndIf}
            ${EndIf}
        ${EndIf}
        ${IfThen} $3 == "" ${|} ${ExitDo} ${|}
    ${Loop}
FunctionEnd

; In: a folder on the stack. Out: $R9 = the hidden store of a module installed there, as the module finds
; it, and $R8 = the folder above it that must exist: below Program Files (where the default rules of
; application control let every program run) the store is in the machine's program data folder; elsewhere
; it is "Hidden" in the install folder, which the setup made with its own rules.
!macro StoreFunctions UN
    Function ${UN}StoreOf
        Exch $R0
        Push $R1
        Push $R2
        StrCpy $R9 "$R0\Hidden"
        StrCpy $R8 $R0
        StrLen $R1 "$PROGRAMFILES64\"
        StrCpy $R2 $R0 $R1
        ${If} $R2 == "$PROGRAMFILES64\"
            StrCpy $R9 "$APPDATA\Quillmar\Orvane Deluxe\Hidden"
        ${EndIf}
        StrLen $R1 "$PROGRAMFILES\"
        StrCpy $R2 $R0 $R1
        ${If} $R2 == "$PROGRAMFILES\"
            StrCpy $R9 "$APPDATA\Quillmar\Orvane Deluxe\Hidden"
        ${EndIf}
        ${If} $R9 != "$R0\Hidden"
            StrCpy $R8 $APPDATA
        ${EndIf}
        Pop $R2
        Pop $R1
        Pop $R0
    FunctionEnd
!macroend
!insertmacro StoreFunctions ""
!insertmacro StoreFunctions "un."

; The hidden store, and the mirror of the profiles folder in it, on every install and update, made or
; taken back through handles by OrvaneSetup.dll (store/store_setup.h), which also moves the store that
; an earlier version kept in a folder below Program Files ("$OldFolder\Hidden") whole into place.
; Folders below them (each user's own) and stored items are not touched.
Function PrepareStore
    Push $INSTDIR
    Call StoreOf
    StrCpy $StoreDir $R9
    StrCpy $0 ""
    ${If} $OldFolder != ""
        Push $OldFolder
        Call StoreOf
        ${IfThen} $R9 != "$OldFolder\Hidden" ${|} StrCpy $0 "$OldFolder\Hidden" ${|}
        Push $INSTDIR
        Call StoreOf
    ${EndIf}
    InitPluginsDir
    File "/oname=$PLUGINSDIR\OrvaneSetup.dll" "${X86DIR}\OrvaneSetup.dll"
    StrCpy $1 ""
    System::Call '$PLUGINSDIR\OrvaneSetup.dll::PrepareStoreW(w R9, w R8, w r0, w .r1, i ${NSIS_MAX_STRLEN}) i .r2'
    System::Call 'kernel32::GetModuleHandleW(w "$PLUGINSDIR\OrvaneSetup.dll") p .r3'
    ${If} $3 != 0
        System::Call 'kernel32::FreeLibrary(p r3)'
    ${EndIf}
    ${If} $2 != 0
        ${IfThen} $1 == "" ${|} StrCpy $1 "The folder $StoreDir for hidden desktop items could not be made." ${|}
        !insertmacro FailSetup "$1"
    ${EndIf}
FunctionEnd


; How deep the walks through the store go. Users nest folders there as deep as they like, and the setup
; and its uninstaller run as an administrator: each walk keeps its own list of the folders still to look
; into (on the plug-in stack, after a "|" that no path holds), never a call per level.
!define DEEPEST_STORE_WALK 64

; In: a folder on the stack. Out: $R9 = 1 when it or a folder below it holds a file or a link: the
; folders the setup makes in the store hold nothing by themselves. A folder deeper than the walk goes
; counts as holding files.
Function FolderHoldsFiles
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    StrCpy $R9 0
    Push "|"
    Push 0
    Push $R0
    ${Do}
        Pop $R0
        ${IfThen} $R0 == "|" ${|} ${ExitDo} ${|}
        Pop $R4
        ; Once the answer is known, what is left of the list only goes.
        ${IfThen} $R9 == 1 ${|} ${Continue} ${|}
        ${If} $R4 >= ${DEEPEST_STORE_WALK}
            StrCpy $R9 1
            ${Continue}
        ${EndIf}
        IntOp $R4 $R4 + 1
        ClearErrors
        FindFirst $R1 $R2 "$R0\*.*"
        ${DoWhile} $R2 != ""
            ${If} $R2 != "."
            ${AndIf} $R2 != ".."
                System::Call 'kernel32::GetFileAttributesW(w "$R0\$R2") i .R3'
                IntOp $R3 $R3 & 0x410
                ${If} $R3 = 0x10
                    Push $R4
                    Push "$R0\$R2"
                ${Else}
                    StrCpy $R9 1
                    ${Break}
                ${EndIf}
            ${EndIf}
            FindNext $R1 $R2
        ${Loop}
        FindClose $R1
    ${Loop}
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; Out: $R9 = 1 when the install folder is the installed copy's, as Windows finds both, else 0.
Function IsOldFolder
    Push $R0
    StrCpy $R0 0
    ${If} $OldFolder != ""
        Push $INSTDIR
        Call FullPath
        StrCpy $R0 $R9
        Push $OldFolder
        Call FullPath
        ${If} $R9 != ""
        ${AndIf} $R0 == $R9
            StrCpy $R0 1
        ${Else}
            StrCpy $R0 0
        ${EndIf}
    ${EndIf}
    StrCpy $R9 $R0
    Pop $R0
FunctionEnd

; A module installed elsewhere would find another store when the two folders' stores differ (one below
; Program Files, one outside it, or two outside it): another folder than the installed copy's is then
; refused while the installed copy's store holds items; silently, the setup ends with exit code 2.
Function RefuseToStrandHiddenItems
    Call IsOldFolder
    ${IfThen} $R9 <> 0 ${|} Return ${|}
    Push $OldFolder
    Call StoreOf
    StrCpy $0 $R9
    Push $INSTDIR
    Call StoreOf
    ${IfThen} $R9 == $0 ${|} Return ${|}
    Push $0
    Call FolderHoldsFiles
    ${If} $R9 == 1
        MessageBox MB_ICONSTOP "${PRODUCT} is installed in$\r$\n$OldFolder$\r$\nand keeps hidden desktop items in $0. Install it into that folder, or show the items again (or uninstall) first." /SD IDOK
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
    Call IsOldFolder
    ${IfThen} $R9 <> 0 ${|} Return ${|}
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
    ; First of all: nothing else may run before it.
    Call un.RefuseSystemAccount
    SetShellVarContext all
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
FunctionEnd

Section "Quillmar Orvane Deluxe (required)" SecMain
    SectionIn RO
    !insertmacro UseSystemView
    ; Nothing of the old folder goes, and nothing is cancelled, before the new one is known to be safe to use.
    Call ResolveInstallFolder
    Call SecureInstallFolder
    Call PrepareStore
    ; An uninstall or an update since the last restart may have left removals of these very files
    ; for the next restart: they would take away what is installed now.
    Call CancelPendingOperations
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

    ; The administrators' template of the policies, for their PolicyDefinitions folder.
    SetOutPath "$INSTDIR\policies\en-US"
    File "policies\en-US\orvane.adml"
    SetOutPath "$INSTDIR\policies"
    File "policies\orvane.admx"
    SetOutPath "$INSTDIR"

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

Section "Restore the logon icon positions and keep the layout at every logon" SecLogon
    !insertmacro UseSystemView
    ; The windowless twin, so that no console window flashes at logon. The keeper makes the logon
    ; restore and stays for the session.
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\orvanew.exe" keep --quiet --wait 60'
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
    ; First of all: nothing else may run before it.
    Call RefuseSystemAccount
    StrCpy $SetupUser $R9
    ; $APPDATA: the machine's program data folder.
    SetShellVarContext all
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
    ; One product is installed once: the package's install is removed with msiexec, not taken over.
    ClearErrors
    ReadRegStr $0 HKLM "${PACKAGE_KEY}" "ProductCode"
    ${IfNot} ${Errors}
        MessageBox MB_ICONSTOP "${PRODUCT} was installed by its Windows Installer package (product $0). Remove it first (Apps, or msiexec /x $0), then run this setup: two installs of one product would share the desktop menu and the folder of hidden items." /SD IDOK
        SetErrorLevel ${EXIT_PACKAGE_INSTALLED}
        Quit
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
; files of a kept folder one by one) and counts them in $8; a folder deeper than the walk goes is named
; and counted as one. It only reads names: a link is named, never followed.
Function un.NameKeptItems
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    Push "|"
    Push 0
    Push $R0
    ${Do}
        Pop $R0
        ${IfThen} $R0 == "|" ${|} ${ExitDo} ${|}
        Pop $R4
        ${If} $R4 >= ${DEEPEST_STORE_WALK}
            DetailPrint "Kept: $R0 and what it holds"
            IntOp $8 $8 + 1
            ${Continue}
        ${EndIf}
        IntOp $R4 $R4 + 1
        FindFirst $R1 $R2 "$R0\*.*"
        ${DoWhile} $R2 != ""
            ${If} $R2 != "."
            ${AndIf} $R2 != ".."
                System::Call 'kernel32::GetFileAttributesW(w "$R0\$R2") i .R3'
                IntOp $R3 $R3 & 0x410
                ${If} $R3 = 0x10
                    Push $R4
                    Push "$R0\$R2"
                ${Else}
                    DetailPrint "Kept: $R0\$R2"
                    IntOp $8 $8 + 1
                ${EndIf}
            ${EndIf}
            FindNext $R1 $R2
        ${Loop}
        FindClose $R1
    ${Loop}
    Pop $R4
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
    Delete "$INSTDIR\policies\en-US\orvane.adml"
    Delete "$INSTDIR\policies\orvane.admx"
    RMDir "$INSTDIR\policies\en-US"
    RMDir "$INSTDIR\policies"
    ; What an update moved aside because a running program held it.
    Delete /REBOOTOK "$INSTDIR\*.old"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; What is still in the store could not go back: its place is taken, or its desktop is gone. It stays,
    ; and each item is named. (The module's unregistration removed the store when it was left empty.)
    Push $INSTDIR
    Call un.StoreOf
    StrCpy $StoreDir $R9
    StrCpy $9 $R8
    RMDir "$StoreDir"
    ${If} ${FileExists} "$StoreDir\*.*"
        StrCpy $8 0
        Push "$StoreDir"
        Call un.NameKeptItems
        MessageBox MB_ICONINFORMATION "$8 hidden desktop items could not be brought back: their place on the desktop is taken, or the desktop they came from is gone. They are kept, each under its desktop's path, in$\r$\n$StoreDir" /SD IDOK
        DetailPrint "Hidden desktop items are kept in $StoreDir"
    ${ElseIf} $9 != $INSTDIR
        ; The folders above a store in the program data folder, once empty.
        ${GetParent} $StoreDir $0
        RMDir $0
        ${GetParent} $0 $0
        RMDir $0
    ${EndIf}
    ; A module still loaded by a running shell goes at the next restart, and its folder with it.
    RMDir /REBOOTOK "$INSTDIR"
    RMDir "$INSTDIR\.."
SectionEnd
