#!/bin/sh
# build_msi.sh ARCH BINDIR ICON VERSION OUTFILE: the Windows Installer package of one architecture's
# files, from orvane.wxs with wixl, completed with msibuild where wixl falls short (checked with
# msiinfo): the files' versions, the folder of a RemoveFolder, the logon entry's condition, the launch
# conditions, the check of the install folder and the kinds of the rollback and commit actions.
set -eu
arch=$1
version=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# wixl takes the files' sources only as paths relative to where it runs.
mkdir "$work/files"
for file in Plaxen.dll Plaxen.chm orvane.exe orvanew.exe OrvaneSetup.dll; do cp "$2/$file" "$work/files/"; done
cp "$3" "$work/files/Plaxen.ico"
cp "$here/policies/orvane.admx" "$here/policies/en-US/orvane.adml" "$work/files/"
(cd "$work/files" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -o "$work/package.msi" \
    "$here/orvane.wxs")

# What stops an install before it changes anything; each message goes to the log (/l*v).
{
    printf 'Condition\tDescription\ns255\tl255\nLaunchCondition\tCondition\n'
    printf 'Installed OR NOT SETUPINSTALL\tQuillmar Orvane Deluxe was installed by its setup program (OrvaneDeluxeSetup.exe). Remove it first (Apps, or its uninstall.exe /S), then install this package: two installs of one product would share the desktop menu and the store of hidden items.\n'
    printf 'Installed OR NOT LATERVERSION\tA later version of Quillmar Orvane Deluxe is installed.\n'
    if [ "$arch" = x86 ]; then
        printf 'Installed OR NOT VersionNT64\tThis package is for 32-bit Windows: on 64-bit Windows install OrvaneDeluxe-x64.msi, whose module the 64-bit desktop loads.\n'
    fi
} > "$work/LaunchCondition.idt"

# Only a folder below Program Files (type 19: stop with an error): every shell loads the module from
# it, so nobody but administrators may change a folder on its path.
if [ "$arch" = x64 ]; then programs=ProgramFiles64Folder; else programs=ProgramFilesFolder; fi
refuse_folder="INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('RefuseInstallFolder', 19, '', \
'Quillmar Orvane Deluxe is installed only in a folder below [$programs]: [INSTALLDIR] is not one.')"
refuse_folder_when="INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('RefuseInstallFolder', \
'NOT REMOVE~=\"ALL\" AND (NOT (INSTALLDIR ~<< $programs) OR INSTALLDIR >< \"\\.\\\" OR INSTALLDIR >< \"\\..\\\")', 1002)"

# wixl writes Execute="rollback" and "commit" as immediate: a DLL in the Binary table (1), its result
# ignored (64), deferred (1024) as rollback (256) or commit (512), as SYSTEM (2048).
rollback_type=$((1 + 64 + 1024 + 256 + 2048))
commit_type=$((1 + 64 + 1024 + 512 + 2048))

# Transitive (64): the logon entry's condition is looked at again on every repair and update, where
# LOGONRESTORE is the installed state (orvane.wxs: KeepLogonEntryOnRepair).
logon_attributes=$(msiinfo export "$work/package.msi" Component | awk -F '\t' '$1 == "LogonEntry" { print $4 + 64 }')
msibuild "$work/package.msi" -i "$work/LaunchCondition.idt" \
    -q "UPDATE Component SET Condition='LOGONRESTORE=1', Attributes=$logon_attributes WHERE Component='LogonEntry'" \
    -q "UPDATE RemoveFile SET DirProperty='QuillmarFolder' WHERE FileKey='RemoveQuillmarFolder'" \
    -q "UPDATE CustomAction SET Type=$rollback_type WHERE Action='ReturnStoreOnRollback'" \
    -q "UPDATE CustomAction SET Type=$commit_type WHERE Action='ForgetStoreMove'" \
    -q "UPDATE File SET Version='$version' WHERE File='PlaxenDll' OR File='OrvaneExe' OR File='OrvanewExe'" \
    -q "$refuse_folder" -q "$refuse_folder_when" \
    -q "UPDATE Property SET Value='EARLIERVERSIONS;LATERVERSION' WHERE Property='SecureCustomProperties'"
mv -f "$work/package.msi" "$5"
