; Installer of the Velmora filter plug-in, for every machine's users.
;
; It puts the builds into its own folder (x64\, x86\ and on Windows on ARM
; arm64\, each holding nothing else: GIMP's bridge loads every DLL of a
; folder it scans), copies the matching build where each host looks in a
; folder administrators own (Adobe's shared folders, which every Photoshop
; since CC reads, and the PluginPath only of a Photoshop that does not read
; them; Photoshop Elements; Paint.NET's Effects folder where PSFilterPdn is;
; PhotoPlus; IrfanView's Adobe 8BF folder), records the folder of
; Velmora.exe machine-wide (HKLM\SOFTWARE\Velmora Plugin, ApplicationPath,
; 64-bit view) and registers an uninstaller that removes exactly the files
; it placed, each recorded the moment it is written.
;
; It runs elevated, often as the system account: every file it writes or
; deletes goes through VelmoraFiles.exe (installer/files), which opens each
; folder by handle from a Program Files folder down and refuses links and
; folders other users may change. The uninstaller carries the same program.
; Nothing is written in users' profiles: VelmoraPerUser.exe does what a user
; needs there (Affinity's folders), as that user, at their next sign-in.
;
; Built on Debian by tools/package.sh:
;   makensis -DVERSION=1.01 -DVERSION4=1.1.0.0 -DPUBLISHER=... -DX64_PLUGIN=...
;            -DX86_PLUGIN=... -DARM64_PLUGIN=... -DX64_PERUSER=... -DTEXTS=<folder of
;            the Install*.txt files> -DFILES_PROGRAM=<VelmoraFiles.exe>
;            -DART=<folder of installer/art/render.sh's icon and pictures> -DOUTFILE=...
;            [-DSIGN_UNINSTALLER=tools/sign.sh] VelmoraPlugin.nsi
; The files' times stored in the installer are those of the files given:
; tools/package.sh sets them to the commit's time, so that the same commit
; gives the same installer.
;
; Command line: /S installs silently; APPLICATIONPATH=<folder of Velmora.exe>
; names the application for the machine-wide setting (quote it when it has
; spaces: "APPLICATIONPATH=C:\Program Files\Velmora"); without it an existing
; setting stays exactly as it is. /D=<folder> (last, unquoted) chooses the
; installation folder: one in a Program Files folder, or a new one elsewhere,
; which the installer makes for administrators only; an earlier install's
; folder is then emptied of what it placed there. Exit codes: 0 done, 3010 a
; file in use is replaced when Windows next starts, 2 a file could not be
; placed, the installation folder or the command line is refused, or the
; file program could not run, 1 cancelled.

Unicode true
ManifestSupportedOS all
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

; A signed release signs the uninstaller too, as makensis builds it and before
; it goes into the installer (tools/package.sh names the signing command).
!ifdef SIGN_UNINSTALLER
  !uninstfinalize '"${SIGN_UNINSTALLER}" "%1"' = 0
!endif

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include StrFunc.nsh
${StrStr}
!include MUI2.nsh

!define PRODUCT "Velmora Plugin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraPlugin"
; One value per placed file: its full path as the name, the run that placed
; it as the data.
!define PLACED_KEY "${UNINSTALL_KEY}\PlacedFiles"
; One value per folder the installer made in a host's folder, to hold its
; builds side by side (Paint.NET's Effects folder): removed when empty.
!define PLACED_FOLDERS_KEY "${UNINSTALL_KEY}\PlacedFolders"
; The machine-wide setting: the folder of Velmora.exe for every user who has
; no VelmoraPro\plugin.ini of their own. In the 64-bit view on 64-bit Windows
; (the native one, as the installer's record), where the 32-bit plug-in reads
; it too.
!define SETTING_KEY "SOFTWARE\Velmora Plugin"
; The per-user step, started by Windows at each user's sign-in.
!define ACTIVE_SETUP_KEY "SOFTWARE\Microsoft\Active Setup\Installed Components\{6F1B3C2E-8D4A-4B7F-9E21-5A7C0D3E9B14}"
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010
; The finish page's words are one string: room for all lines but the last.
!define /math FINISH_ROOM ${NSIS_MAX_STRLEN} - 200
; The files of the installation folder besides the builds' folders.
!define OWN_FILES "Uninstall.exe VelmoraPerUser.exe Install.txt Install.de.txt Install.es.txt Install.fr.txt Install.it.txt Install.ja.txt Install.ko.txt Install.nl.txt Install.pl.txt Install.pt-BR.txt Install.ru.txt Install.zh-CN.txt Install.zh-TW.txt"
!define UNINSTALL_LIST "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show
SpaceTexts none
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 ProductName "${PRODUCT}"
VIAddVersionKey /LANG=1033 ProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 FileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 CompanyName "${PUBLISHER}"
VIAddVersionKey /LANG=1033 FileDescription "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 LegalCopyright "${PUBLISHER}"
; The NSIS that made it, also named in its manifest's description.
VIAddVersionKey /LANG=1033 Comments "Nullsoft Install System ${NSIS_VERSION}"

Var AppFolder       ; folder of Velmora.exe for the machine-wide setting, no trailing backslash
Var AppFolderGiven  ; 1 when APPLICATIONPATH= was on the command line
Var OldInstDir      ; the folder of an earlier install, "" when there is none
Var KeptSetting     ; the machine-wide setting found, expanded; kept as it is unless changed
Var Roots           ; the Program Files folders, quoted: where hosts' folders may lie
Var OwnRoots        ; those and the installation folder: where its own files lie
Var CheckFailed     ; 1 when VelmoraFiles.exe could not run
Var SharedBuild64   ; the build placed in Adobe's shared folders, "" for none
Var SharedBuild32
Var RunId           ; marks the files this run placed
Var PlaceFailed     ; 1 when a file could not be placed
Var FinishText      ; the finish page's words: the hosts found, each in its line
Var Windows         ; x86, x64 or arm64: the builds a host may load here
; 1 when the host was found; for those placed into, 2 once a copy is there.
Var HostPhotoshop
Var HostElements
Var HostPaintNet
Var HostPhotoPlus
Var HostIrfanView
Var HostPaintShop
Var HostPhotoLine
Var HostXnView
Var HostAffinity
Var HostGimp

; Our own icon and pictures, drawn in installer/art and rendered by
; tools/package.sh (ART names the folder): the same for the uninstaller.
!define MUI_ICON "${ART}\Velmora.ico"
!define MUI_UNICON "${ART}\Velmora.ico"
!define MUI_HEADERIMAGE
!define MUI_HEADERIMAGE_RIGHT
!define MUI_HEADERIMAGE_BITMAP "${ART}\Header.bmp"
!define MUI_HEADERIMAGE_UNBITMAP "${ART}\Header.bmp"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${ART}\Wizard.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${ART}\Wizard.bmp"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOAUTOCLOSE
; No boxes to tick on it: its words have the whole page.
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE

; What is installed, and for which editors, before anything is asked.
!define MUI_WELCOMEPAGE_TEXT "$(VELMORA_WELCOME_TEXT)"
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE InstDirPageLeave
!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_HEADER_TEXT "$(VELMORA_APP_PAGE_TITLE)"
!define MUI_PAGE_HEADER_SUBTEXT "$(VELMORA_APP_PAGE_SUBTITLE)"
!define MUI_DIRECTORYPAGE_TEXT_TOP "$(VELMORA_APP_PAGE_TEXT)"
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "$(VELMORA_APP_PAGE_FOLDER)"
!define MUI_DIRECTORYPAGE_VARIABLE $AppFolder
!define MUI_PAGE_CUSTOMFUNCTION_PRE AppFolderPagePre
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE AppFolderPageLeave
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$FinishText"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The copies each user's step made stay with their users.
!define MUI_FINISHPAGE_TEXT "$(MUI_UNTEXT_FINISH_INFO_TEXT)$\r$\n$\r$\n$(VELMORA_USER_COPIES_KEPT)"
!insertmacro MUI_UNPAGE_FINISH

; Every language's words, and the choice of one.
!include "${__FILEDIR__}\lang\Languages.nsh"

; The installer's record and its Apps and Features entry live in the
; machine's native registry view.
!macro NativeRegView
  ${If} ${RunningX64}
    SetRegView 64
  ${Else}
    SetRegView default
  ${EndIf}
!macroend

; $R0 = a path; strips trailing backslashes (a drive root keeps its own).
Function TrimBackslashes
  ${Do}
    StrLen $0 $R0
    StrCpy $1 $R0 1 -1
    ${If} $0 <= 3
    ${OrIf} $1 != "\"
      ${Break}
    ${EndIf}
    StrCpy $R0 $R0 -1
  ${Loop}
FunctionEnd

; $R0 = the arguments of VelmoraFiles.exe (installer/files), which does every
; write and delete: $0 becomes its exit code and $1 its words. Anything but
; one of its own answers means it could not run (blocked by antivirus or
; AppLocker, or missing): $0 is then "" and CheckFailed 1, and nothing was
; written.
!macro FilesFunction UN
Function ${UN}Files
  nsExec::ExecToStack '"$PLUGINSDIR\VelmoraFiles.exe" $R0'
  Pop $0
  Pop $1
  IntOp $2 $0 + 0
  ${If} "$2" != "$0"
  ${OrIf} $0 < 0
  ${OrIf} $0 > 10
  ${OrIf} $0 = 4
    StrCpy $0 ""
    StrCpy $CheckFailed 1
  ${EndIf}
FunctionEnd

; $R9 = a text, $R8 = -11 for the standard output or -12 for the standard
; error. A silent install shows no window, so what its pages would say goes
; to the output it was started with, if any, for the log of whoever deployed
; it: a console gets it as it is, anything else UTF-8.
Function ${UN}WriteStandard
  ${IfNot} ${Silent}
    Return
  ${EndIf}
  System::Call 'kernel32::GetStdHandle(i R8) p .r0'
  ${If} $0 = 0
  ${OrIf} $0 = -1
    Return
  ${EndIf}
  StrCpy $1 "$R9$\r$\n"
  System::Call 'kernel32::GetFileType(p r0) i .r2'
  ${If} $2 = 2  ; FILE_TYPE_CHAR: a console
    StrLen $2 $1
    System::Call 'kernel32::WriteConsoleW(p r0, w r1, i r2, *i 0, p 0)'
    Return
  ${EndIf}
  System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w r1, i -1, p 0, i 0, p 0, p 0) i .r2'
  ${If} $2 > 1
    System::Alloc $2
    Pop $3
    System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w r1, i -1, p r3, i r2, p 0, p 0)'
    IntOp $2 $2 - 1  ; without the terminating zero
    System::Call 'kernel32::WriteFile(p r0, p r3, i r2, *i 0, p 0)'
    System::Free $3
  ${EndIf}
FunctionEnd

; $R9 = why the install stops. Shown in a box, or in a silent install
; written to the standard error.
Function ${UN}Complain
  MessageBox MB_OK|MB_ICONSTOP "$R9" /SD IDOK
  StrCpy $R8 -12
  Call ${UN}WriteStandard
FunctionEnd

; $R9 = a line for the details, and in a silent install for its standard
; output too.
Function ${UN}Say
  DetailPrint "$R9"
  Push $R8
  StrCpy $R8 -11
  Call ${UN}WriteStandard
  Pop $R8
FunctionEnd

; $R4 = a file, $R2 = the roots it must lie below. Deletes it through
; VelmoraFiles.exe; a file in use is removed when Windows next starts if the
; user does not close its program. $0 = the program's answer: 0, 8 or 9 when
; the file is gone or goes at the restart.
Function ${UN}DeleteFile
  ${GetParent} $R4 $5
  ${GetFileName} $R4 $6
  StrCpy $4 ""
  delete_retry:
  StrCpy $R0 'delete $4 "$5" "$6" -- $R2'
  Call ${UN}Files
  ${If} $0 == 6
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(VELMORA_REMOVE_IN_USE)" /SD IDCANCEL IDRETRY delete_retry
    StrCpy $4 --at-restart
    Goto delete_retry
  ${ElseIf} $0 == 8
    SetRebootFlag true
    DetailPrint "$(VELMORA_REMOVED_AT_RESTART)"
  ${ElseIf} $0 == 0
    DetailPrint "$(VELMORA_REMOVED)"
  ${ElseIf} $0 == 2
  ${OrIf} $0 == 5
    StrCpy $R1 $R4
    StrCpy $R9 "$(VELMORA_LINK_ON_THE_WAY)"
    Call ${UN}Say
  ${EndIf}
FunctionEnd

; $R1 = the installation folder, $R3 = an earlier one or "", $R4 = --create
; to make it. $0 = 0 when it may hold the installation; else $R9 says why not.
Function ${UN}CheckOwnFolder
  StrCpy $R0 'own-folder $R4 "$R1" "$R3" -- $Roots'
  Call ${UN}Files
  ${If} $0 == ""
    StrCpy $R9 "$(VELMORA_CHECK_FAILED)"
  ${ElseIf} $0 == 10
  ${OrIf} $0 == 1
    StrCpy $R9 "$(VELMORA_OWN_FOLDER_ELSEWHERE)"
  ${ElseIf} $0 == 7
    StrCpy $3 $1
    StrCpy $R9 "$(VELMORA_OWN_FOLDER_FAILED)"
  ${ElseIf} $0 != 0
    StrCpy $R9 "$(VELMORA_OWN_FOLDER_LINK)"
  ${EndIf}
FunctionEnd

; $R1 = an installation folder, $R2 = the options and roots: its own files
; and folders go (the files any install recorded have gone before).
Function ${UN}RemoveOwnFiles
  StrCpy $R0 'delete "$R1" ${OWN_FILES} $R2'
  Call ${UN}Files
  StrCpy $R0 'rmdir "$R1\x64" "$R1\x86" "$R1\arm64" "$R1" $R2'
  Call ${UN}Files
FunctionEnd

; The program for the files, into the temporary folder the installer (or
; uninstaller) makes for itself, without lines in the details.
Function ${UN}UnpackFiles
  InitPluginsDir
  SetDetailsPrint none
  File "/oname=$PLUGINSDIR\VelmoraFiles.exe" "${FILES_PROGRAM}"
  SetDetailsPrint both
  StrCpy $Roots '"$PROGRAMFILES64" "$PROGRAMFILES32"'
FunctionEnd
!macroend
!insertmacro FilesFunction ""
!insertmacro FilesFunction "un."

; The details show every line whole: the list scrolls sideways where a line
; (a long folder's name, a longer language) is wider than the page.
!macro ShowWholeLines
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $0 $0 1016
  SendMessage $0 0x101E 0 -1  ; LVM_SETCOLUMNWIDTH, LVSCW_AUTOSIZE
!macroend

; $R0 = command-line parameters: $R0 becomes the folder their
; APPLICATIONPATH= names, as the plug-in can read it (VelmoraFiles.exe knows
; how: in full, no trailing backslash, else its short name), or as given when
; it is refused; $0 = 0 for the folder, 9 without the option, 11 not in full,
; 12 no form the plug-in could read, anything else: the program did not run.
; The text goes both ways in UTF-16 files, whatever the code page.
Function ApplicationPath
  FileOpen $0 "$PLUGINSDIR\parameters.txt" w
  FileWriteUTF16LE $0 $R0
  FileClose $0
  nsExec::Exec '"$PLUGINSDIR\VelmoraFiles.exe" --application-path "$PLUGINSDIR\parameters.txt" "$PLUGINSDIR\folder.txt"'
  StrCpy $R0 ""
  FileOpen $1 "$PLUGINSDIR\folder.txt" r
  FileReadUTF16LE $1 $R0
  FileClose $1
  Pop $0
FunctionEnd

Function .onInit
  !insertmacro NativeRegView
  !insertmacro VelmoraChooseLanguage
  !insertmacro VelmoraLanguageDialog
  System::Call 'kernel32::GetTickCount() i .r0'
  StrCpy $RunId "${VERSION} $0"
  StrCpy $PlaceFailed 0
  StrCpy $CheckFailed 0

  ; Reinstalling keeps the earlier folder unless /D= names another. NSIS
  ; takes "/D=<folder>" off the end of the command line, leaving it only in
  ; $INSTDIR: what it took off is what the process's own line has more.
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  Call TrimBackslashes
  StrCpy $OldInstDir $R0
  System::Call 'kernel32::GetCommandLineW() w .r0'
  StrLen $1 $CMDLINE
  StrCpy $R5 $0 4 $1
  ${If} $R5 S!= " /D="
  ${AndIf} $OldInstDir != ""
    StrCpy $INSTDIR $OldInstDir
  ${EndIf}

  Call UnpackFiles
  ${If} $R5 S== " /D="
  ${OrIf} ${Silent}
    StrCpy $R1 $INSTDIR
    StrCpy $R3 $OldInstDir
    StrCpy $R4 ""
    Call CheckOwnFolder
    ${If} $0 != 0
      Call Complain
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}

  ${GetParameters} $R0
  Call ApplicationPath
  StrCpy $R2 $R0
  StrCpy $R9 "$(VELMORA_CHECK_FAILED)"
  ${If} $0 == 11
    StrCpy $R9 "$(VELMORA_APPLICATIONPATH_NOT_FULL)"
  ${ElseIf} $0 == 12
    StrCpy $R9 "$(VELMORA_APPLICATIONPATH_OUTSIDE_CODE_PAGE)"
  ${EndIf}
  StrCpy $AppFolderGiven 0
  ${If} $0 == 0
    StrCpy $AppFolderGiven 1
    StrCpy $AppFolder $R0
  ${ElseIf} $0 != 9
    Call Complain
    SetErrorLevel 2
    Quit
  ${Else}
    ; A reinstall leaves the machine-wide setting exactly as it is (an
    ; administrator may have made it %ProgramFiles%\... of type
    ; REG_EXPAND_SZ) unless the folder page changes it.
    ReadRegStr $R0 HKLM "${SETTING_KEY}" "ApplicationPath"
    ExpandEnvStrings $R0 $R0
    Call TrimBackslashes
    StrCpy $AppFolder $R0
    StrCpy $KeptSetting $R0
  ${EndIf}
  ${If} $AppFolder != ""
  ${ElseIf} ${FileExists} "$PROGRAMFILES64\Velmora\Velmora.exe"
    StrCpy $AppFolder "$PROGRAMFILES64\Velmora"
  ${ElseIf} ${FileExists} "$PROGRAMFILES32\Velmora\Velmora.exe"
    StrCpy $AppFolder "$PROGRAMFILES32\Velmora"
  ${ElseIfNot} ${Silent}
    ; Only a proposal on the folder page: a silent install without the
    ; application writes no setting.
    StrCpy $AppFolder "$PROGRAMFILES64\Velmora"
  ${EndIf}
FunctionEnd

Function InstDirPageLeave
  StrCpy $R1 $INSTDIR
  StrCpy $R3 $OldInstDir
  StrCpy $R4 ""
  Call CheckOwnFolder
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "$R9"
    Abort
  ${EndIf}
FunctionEnd

Function AppFolderPagePre
  ${If} $AppFolderGiven = 1
    Abort  ; skips the page
  ${EndIf}
FunctionEnd

Function AppFolderPageLeave
  StrCpy $R0 '"APPLICATIONPATH=$AppFolder"'
  Call ApplicationPath
  ${If} $0 == 11
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(VELMORA_APP_FOLDER_NOT_FULL)"
    Abort
  ${EndIf}
  StrCpy $AppFolder $R0
  ${IfNot} ${FileExists} "$AppFolder\Velmora.exe"
    MessageBox MB_YESNO|MB_ICONQUESTION "$(VELMORA_APP_NOT_THERE)" IDYES +2
    Abort
  ${EndIf}
  ${If} $0 == 12
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(VELMORA_APP_FOLDER_OUTSIDE_CODE_PAGE)"
    Abort
  ${ElseIf} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "$(VELMORA_CHECK_FAILED)"
    Abort
  ${EndIf}
FunctionEnd

; $R1 = a folder, $R8 = what to place there (<build>|Velmora.8bf, or a
; folder\* of files), $R9 = the file for the words and the record ("" for
; none), $R2 = the roots it must lie below. A file a running host has loaded
; cannot be replaced: the user may close the host and retry, or the new file
; waits beside it and replaces it when Windows next starts. $0 = 0 when
; placed (also at the restart), else VelmoraFiles.exe's answer.
Function PlaceFiles
  ${If} $R9 != ""
    ReadRegStr $0 HKLM "${PLACED_KEY}" $R9
    ${If} $0 == $RunId
      StrCpy $0 0
      Return  ; two hosts share this folder
    ${EndIf}
  ${EndIf}
  StrCpy $4 ""
  place_retry:
  StrCpy $R0 'place $4 "$R1" "$R8" -- $R2'
  Call Files
  ${If} $0 == 6
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(VELMORA_PLACE_IN_USE)" /SD IDCANCEL IDRETRY place_retry
    StrCpy $4 --at-restart
    Goto place_retry
  ${ElseIf} $0 == 7
    StrCpy $3 $1
    MessageBox MB_RETRYCANCEL|MB_ICONSTOP "$(VELMORA_PLACE_FAILED)" /SD IDCANCEL IDRETRY place_retry
    DetailPrint "$(VELMORA_NOT_PLACED)"
    StrCpy $PlaceFailed 1
  ${EndIf}
  ${If} $0 == 8
    SetRebootFlag true
  ${EndIf}
  ${If} $0 != 0
  ${AndIf} $0 != 8
    Return
  ${EndIf}
  ${If} $R9 != ""
    ; Recorded for the uninstaller; before the restart, both files are there.
    WriteRegStr HKLM "${PLACED_KEY}" $R9 $RunId
    ${If} $0 == 8
      WriteRegStr HKLM "${PLACED_KEY}" "$R9.new" $RunId
      DetailPrint "$(VELMORA_PLACED_AT_RESTART)"
    ${Else}
      DetailPrint "$(VELMORA_PLACED)"
    ${EndIf}
  ${EndIf}
  StrCpy $0 0
FunctionEnd

; $R0 = a build in $PLUGINSDIR, or "" and $R8 = files to place unrecorded;
; $R1 = a folder of the installation's own, checked and made just before:
; anything but success there fails the install.
Function PlaceIntoOwnFolder
  ${If} $R0 != ""
    StrCpy $R8 "$R0|Velmora.8bf"
    StrCpy $R9 "$R1\Velmora.8bf"
  ${EndIf}
  StrCpy $R2 $OwnRoots
  StrCpy $R0 'mkdir "$R1" -- $OwnRoots'
  Call Files
  Call PlaceFiles
  ${If} $0 != 0
    StrCpy $R6 ""
    Call LeftOut
    StrCpy $PlaceFailed 1
  ${EndIf}
FunctionEnd

; $0 = why a host's folder $R1 got no file, $R6 = the host's name for the
; finish page ("" for none), $R8 = the build it needed. Says so, and puts on
; the finish page what the user can do: copy the build there.
Function LeftOut
  StrCpy $R9 ""
  ${If} $0 == 1
    StrCpy $R9 "$(VELMORA_NOT_IN_PROGRAM_FILES)"
    StrCpy $R7 "$(VELMORA_WHY_OUTSIDE)"
  ${ElseIf} $0 == 2
    StrCpy $R9 "$(VELMORA_LINK_ON_THE_WAY)"
    StrCpy $R7 "$(VELMORA_WHY_LINK)"
  ${ElseIf} $0 == 5
    StrCpy $R9 "$(VELMORA_OTHERS_CAN_CHANGE)"
    StrCpy $R7 "$(VELMORA_WHY_OTHERS)"
  ${ElseIf} $0 == 7
    StrCpy $R7 "$(VELMORA_WHY_FAILED)"
  ${ElseIf} $0 == ""
    StrCpy $R7 "$(VELMORA_WHY_UNCHECKED)"
  ${ElseIf} $0 == "nobuild"
    StrCpy $R7 "$(VELMORA_WHY_NO_BUILD)"
  ${Else}
    DetailPrint "$(VELMORA_NO_SUCH_FOLDER)"
    Return
  ${EndIf}
  ${If} $R9 != ""
    Call Say
  ${EndIf}
  ${If} $R6 != ""
    StrCpy $5 $R8 -4
    ${GetFileName} $5 $5
    StrCpy $5 "$INSTDIR\$5\Velmora.8bf"
    ; One per line, in a file: together they may be longer than a string.
    FileOpen $6 "$PLUGINSDIR\left-out.txt" a
    FileSeek $6 0 END
    FileWriteUTF16LE $6 "$(VELMORA_FINISH_NOT_PLACED)$\r$\n"
    FileClose $6
  ${EndIf}
FunctionEnd

; $R0 = the build, $R1 = a host's folder, $R6 = the host's name: the build
; goes there where administrators own it; elsewhere the installer says why
; not and what to do. A folder that does not exist is not created (hosts that
; are gone leave their keys behind). $0 = 0 when placed.
Function PlaceIntoHostFolder
  StrCpy $R8 $R0
  StrCpy $R0 $R1
  Call TrimBackslashes
  StrCpy $R1 $R0
  StrCpy $R0 $R8
  ${IfNot} ${FileExists} "$R1\*.*"
    DetailPrint "$(VELMORA_NO_SUCH_FOLDER)"
    StrCpy $0 3
    Return
  ${EndIf}
  StrCpy $R8 "$R0|Velmora.8bf"
  StrCpy $R9 "$R1\Velmora.8bf"
  Push $R0
  Push $R2
  StrCpy $R2 $Roots
  Call PlaceFiles
  Pop $R2
  Pop $R0
  StrCpy $R8 $R0
  ${If} $0 != 0
    Call LeftOut
  ${EndIf}
FunctionEnd

; $R1 = a Photoshop's own plug-in folder, which reads Adobe's shared one: a
; copy an earlier release placed there too goes, since Photoshop keeps one
; plug-in of a name and a stale copy could win.
Function RemoveEarlierCopy
  StrCpy $R0 $R1
  Call TrimBackslashes
  StrCpy $R4 "$R0\Velmora.8bf"
  ReadRegStr $0 HKLM "${PLACED_KEY}" $R4
  ${If} $0 == ""
  ${OrIf} $0 == $RunId
    Return
  ${EndIf}
  StrCpy $R2 $Roots
  Call DeleteFile
  ${If} $0 == 0
  ${OrIf} $0 == 8
  ${OrIf} $0 == 9
    DeleteRegValue HKLM "${PLACED_KEY}" $R4
  ${EndIf}
FunctionEnd

; $R2 = 64 or 32: the registry view to read.
!macro HostRegView
  ${If} $R2 == 64
    SetRegView 64
  ${Else}
    SetRegView 32
  ${EndIf}
!macroend

; $R0 = the source build, $R2 = 64 or 32: the registry view in which a host
; of the build's architecture registers. Each Photoshop since CC (70.0) reads Adobe's
; shared folder: one copy there serves it when it is its build, and its own
; plug-in folder gets none. An older one, or one that loads another build
; (Windows on ARM), gets its own copy in the PluginPath it names.
Function PlaceIntoPhotoshops
  StrCpy $R3 0
  ${Do}
    !insertmacro HostRegView
    EnumRegKey $R4 HKLM "SOFTWARE\Adobe\Photoshop" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    ReadRegStr $R5 HKLM "SOFTWARE\Adobe\Photoshop\$R4" "PluginPath"
    !insertmacro NativeRegView
    IntOp $R3 $R3 + 1
    ${If} $HostPhotoshop == ""
      StrCpy $HostPhotoshop 1
    ${EndIf}
    ExpandEnvStrings $R1 $R5
    Push $R0
    Push $R2
    Push $R3
    ${If} $Windows == arm64
    ${AndIf} $R2 = 64
    ${AndIf} $R1 != ""
      ; A native ARM64 Photoshop and an x64 one under emulation share the
      ; 64-bit view: each loads the build of its own program.
      Call PhotoshopBuild
    ${EndIf}
    StrCpy $1 $SharedBuild32
    ${If} $R2 == 64
      StrCpy $1 $SharedBuild64
    ${EndIf}
    IntOp $0 $R4 + 0  ; "190.0" is 190
    ${If} $0 >= 70
    ${AndIf} $1 != ""
    ${AndIf} $1 == $R0
      StrCpy $HostPhotoshop 2
      ${If} $R1 != ""
        Call RemoveEarlierCopy
      ${EndIf}
    ${ElseIf} $R1 == ""
    ${ElseIf} $R0 == ""
      StrCpy $0 nobuild
      StrCpy $R6 Photoshop
      StrCpy $R8 "$PLUGINSDIR\x64.8bf"
      Call LeftOut
    ${Else}
      StrCpy $R6 Photoshop
      Call PlaceIntoHostFolder
      ${If} $0 == 0
        StrCpy $HostPhotoshop 2
      ${EndIf}
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R0
  ${Loop}
  !insertmacro NativeRegView
FunctionEnd

; $R1 = a Photoshop version's plug-in folder (<program folder>\Plug-ins): $R0
; becomes the build its Photoshop.exe loads on this Windows, "" for none.
Function PhotoshopBuild
  StrCpy $R0 $R1
  Call TrimBackslashes
  ${GetParent} $R0 $R0
  nsExec::Exec '"$PLUGINSDIR\VelmoraFiles.exe" --build-for $Windows "$R0\Photoshop.exe"'
  Pop $0
  Call BuildOfAnswer
FunctionEnd

; $0 = the answer of VelmoraFiles.exe --build-for or --shared-build: $R0
; becomes that build's file, "" for none.
Function BuildOfAnswer
  ${If} $0 == 2
    StrCpy $R0 "$PLUGINSDIR\arm64.8bf"
  ${ElseIf} $0 == 1
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
  ${ElseIf} $0 == 0
    StrCpy $R0 "$PLUGINSDIR\x86.8bf"
  ${Else}
    StrCpy $R0 ""
  ${EndIf}
FunctionEnd

; $R0 becomes the build for Adobe's 64-bit shared folder. On Windows on ARM
; a native ARM64 Photoshop and an x64 one read that one folder, which holds
; one Velmora.8bf: the ARM64 build, unless every Photoshop there is x64.
Function SharedFolderBuild
  StrCpy $R0 "$PLUGINSDIR\x64.8bf"
  ${If} $Windows != arm64
    Return
  ${EndIf}
  StrCpy $R7 ""
  StrCpy $R3 0
  SetRegView 64
  ${Do}
    EnumRegKey $R4 HKLM "SOFTWARE\Adobe\Photoshop" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    ReadRegStr $R5 HKLM "SOFTWARE\Adobe\Photoshop\$R4" "PluginPath"
    ${If} $R5 != ""
      ExpandEnvStrings $R0 $R5
      Call TrimBackslashes
      ${GetParent} $R0 $R5
      StrCpy $R7 '$R7 "$R5\Photoshop.exe"'
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${Loop}
  !insertmacro NativeRegView
  nsExec::Exec '"$PLUGINSDIR\VelmoraFiles.exe" --shared-build arm64$R7'
  Pop $0
  Call BuildOfAnswer
  ${If} $R0 == ""
    StrCpy $R0 "$PLUGINSDIR\arm64.8bf"
  ${EndIf}
FunctionEnd

; $R0 = the build, $R1 = Adobe's shared folder: $R7 becomes the build placed
; there, "" when it got none. A missing shared folder is no news.
Function PlaceIntoSharedFolder
  StrCpy $R7 ""
  ${IfNot} ${FileExists} "$R1\*.*"
    Return
  ${EndIf}
  StrCpy $R6 ""  ; the Photoshops that read it are told by themselves
  Call PlaceIntoHostFolder
  ${If} $0 == 0
    StrCpy $R7 $R0
  ${EndIf}
FunctionEnd

; $R0 = a build, $R2 = 64 or 32: places the build into the folder each
; version of HOST names in the registry (KEY\<version>SUBKEY, value VALUE),
; and VAR becomes 2 once one got it.
!macro PlaceIntoVersions KEY SUBKEY VALUE HOST VAR
  StrCpy $R3 0
  ${Do}
    !insertmacro HostRegView
    EnumRegKey $R4 HKLM "${KEY}" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    ReadRegStr $R5 HKLM "${KEY}\$R4${SUBKEY}" "${VALUE}"
    !insertmacro NativeRegView
    IntOp $R3 $R3 + 1
    ${If} ${VAR} == ""
      StrCpy ${VAR} 1
    ${EndIf}
    ${If} $R5 != ""
      ExpandEnvStrings $R1 $R5
      StrCpy $R6 "${HOST}"
      Push $R3
      Call PlaceIntoHostFolder
      Pop $R3
      ${If} $0 == 0
        StrCpy ${VAR} 2
      ${EndIf}
    ${EndIf}
  ${Loop}
  !insertmacro NativeRegView
!macroend

; Photoshop Elements loads 64-bit plug-ins only, from the folder each version
; names as the default value of its PluginPath key.
Function PlaceIntoElements
  StrCpy $R2 64
  !insertmacro PlaceIntoVersions "SOFTWARE\Adobe\Photoshop Elements" "\PluginPath" "" \
    "Photoshop Elements" $HostElements
FunctionEnd

; $R0 = the build, $R2 = 64 or 32: PhotoPlus names its plug-in folder per
; version, in the view of its architecture.
Function PlaceIntoPhotoPlus
  !insertmacro PlaceIntoVersions "SOFTWARE\Serif\PhotoPlus" "\Directories" "PluginRootDir" \
    PhotoPlus $HostPhotoPlus
FunctionEnd

; $R0 = the build, $R2 = 64 or 32, $R6 = the name of IrfanView's uninstall
; entry in that view (IrfanView64 or IrfanView). Its Adobe 8BF PlugIn loads
; filters from Plugins\Adobe 8BF in IrfanView's folder, which exists once
; that PlugIn is installed.
Function PlaceIntoIrfanView
  !insertmacro HostRegView
  ReadRegStr $R5 HKLM "${UNINSTALL_LIST}\$R6" "InstallLocation"
  !insertmacro NativeRegView
  ${If} $R5 == ""
    Return
  ${EndIf}
  ${If} $HostIrfanView == ""
    StrCpy $HostIrfanView 1
  ${EndIf}
  Push $R0
  StrCpy $R0 $R5
  Call TrimBackslashes
  StrCpy $R1 "$R0\Plugins\Adobe 8BF"
  Pop $R0
  ${IfNot} ${FileExists} "$R1\*.*"
    Return  ; the finish page asks for the PlugIn
  ${EndIf}
  StrCpy $R6 IrfanView
  Call PlaceIntoHostFolder
  ${If} $0 == 0
    StrCpy $HostIrfanView 2
  ${EndIf}
FunctionEnd

; $R1 = a folder the installer makes in a checked host folder, to hold a
; build beside the other one. Recorded when made here, so that the
; uninstaller removes it, and only then. $0 = 0 when it is there.
Function MakeOwnSubfolder
  StrCpy $R0 'mkdir "$R1" -- $Roots'
  Call Files
  ${If} $0 == 0
    WriteRegStr HKLM "${PLACED_FOLDERS_KEY}" $R1 $RunId
  ${ElseIf} $0 == 9
    StrCpy $0 0
  ${EndIf}
FunctionEnd

; Paint.NET with PSFilterPdn in its Effects folder searches that folder and
; the folders below it for filters, and of two with the same name prefers
; the 64-bit one: both builds go into a folder of their own there, each in
; its own folder below. $R2 = 64 on 64-bit Windows (both builds), 32 on
; 32-bit Windows (the 32-bit one).
Function PlaceIntoPaintNet
  !insertmacro HostRegView
  ReadRegStr $R0 HKLM "SOFTWARE\Paint.NET" "TARGETDIR"
  !insertmacro NativeRegView
  ${If} $R0 == ""
    Return
  ${EndIf}
  StrCpy $HostPaintNet 1
  Call TrimBackslashes
  StrCpy $R5 "$R0\Effects"
  ${IfNot} ${FileExists} "$R5\PSFilterPdn.dll"
  ${AndIfNot} ${FileExists} "$R5\PSFilterPdn\PSFilterPdn.dll"
    StrCpy $R9 "$(VELMORA_NO_PSFILTERPDN)"
    Call Say
    Return
  ${EndIf}
  StrCpy $R6 Paint.NET
  StrCpy $R8 "$PLUGINSDIR\x86.8bf"
  ${If} $R2 == 64
    StrCpy $R8 "$PLUGINSDIR\x64.8bf"
  ${EndIf}
  StrCpy $R1 "$R5\${PRODUCT}"
  Call MakeOwnSubfolder
  ${If} $0 != 0
    StrCpy $R1 $R5
    Call LeftOut
    Return
  ${EndIf}
  StrCpy $R5 $R1
  ${If} $R2 == 64
    StrCpy $R1 "$R5\x64"
    Call MakeOwnSubfolder
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
    Call PlaceIntoHostFolder
    ${If} $0 != 0
      Return
    ${EndIf}
  ${EndIf}
  StrCpy $R1 "$R5\x86"
  Call MakeOwnSubfolder
  StrCpy $R0 "$PLUGINSDIR\x86.8bf"
  Call PlaceIntoHostFolder
  ${If} $0 == 0
    StrCpy $HostPaintNet 2
  ${EndIf}
FunctionEnd

; Registers the per-user step: Windows' Active Setup runs StubPath at each
; user's sign-in, as that user, while the user's own copy of Version (in
; HKCU) is lower than this one. The version is this install's time (UTC), so
; that every install, also of the same release (say once Affinity has come),
; serves every user once more.
Function RegisterUserStep
  System::Call '*(&i2 0, &i2 0, &i2 0, &i2 0, &i2 0, &i2 0, &i2 0, &i2 0) p .r0'
  System::Call 'kernel32::GetSystemTime(p r0)'
  ; SYSTEMTIME: year, month, day of the week, day, hour, minute, ...
  System::Call '*$0(&i2 .r1, &i2 .r2, &i2 .r6, &i2 .r3, &i2 .r4, &i2 .r5)'
  System::Free $0
  IntOp $2 $2 * 100
  IntOp $2 $2 + $3
  IntOp $4 $4 * 100
  IntOp $4 $4 + $5
  WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "" "${PRODUCT}"
  WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "StubPath" '"$INSTDIR\VelmoraPerUser.exe" /place'
  WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "Version" "$1,$2,$4,0"
  WriteRegDWORD HKLM "${ACTIVE_SETUP_KEY}" "IsInstalled" 1
FunctionEnd

; Removes from $OldInstDir, the folder of an earlier install, the files that
; install recorded there and its own files; their records go too. Files this
; run placed (the new folder may lie inside the old one) stay.
Function RemoveOldFolder
  StrCpy $R5 "$OldInstDir\"
  StrLen $R6 $R5
  StrCpy $R3 0
  ${Do}
    EnumRegValue $R4 HKLM "${PLACED_KEY}" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    StrCpy $0 $R4 $R6
    ReadRegStr $1 HKLM "${PLACED_KEY}" $R4
    ${If} $0 != $R5  ; case-insensitive, as paths are
    ${OrIf} $1 == $RunId
      IntOp $R3 $R3 + 1
      ${Continue}
    ${EndIf}
    StrCpy $R2 '$Roots "$OldInstDir"'
    Call DeleteFile
    DeleteRegValue HKLM "${PLACED_KEY}" $R4  ; the next value takes this index
  ${Loop}
  StrCpy $4 ""
  ${If} ${RebootFlag}
    ; The folders go after the files, when Windows next starts.
    StrCpy $4 --at-restart
  ${EndIf}
  StrCpy $R1 $OldInstDir
  StrCpy $R2 '$4 -- $Roots "$OldInstDir"'
  Call RemoveOwnFiles
  DetailPrint "$(VELMORA_MOVED_FROM)"
FunctionEnd

; $R0 = a display name from an uninstall entry: marks the hosts that name it.
!macro FindHostIn NAME VAR
  ${StrStr} $R2 $R0 "${NAME}"
  ${If} $R2 != ""
  ${AndIf} ${VAR} == ""
    StrCpy ${VAR} 1
  ${EndIf}
!macroend
; The uninstall entries of the shell context's root (HKLM, or HKCU for the
; installing account) in the current registry view.
Function FindHostsInKey
  StrCpy $R4 0
  ${Do}
    EnumRegKey $R6 SHCTX "${UNINSTALL_LIST}" $R4
    ${If} $R6 == ""
      ${Break}
    ${EndIf}
    ReadRegStr $R0 SHCTX "${UNINSTALL_LIST}\$R6" "DisplayName"
    !insertmacro FindHostIn "PaintShop Pro" $HostPaintShop
    !insertmacro FindHostIn "PhotoLine" $HostPhotoLine
    !insertmacro FindHostIn "XnView" $HostXnView
    !insertmacro FindHostIn "Affinity" $HostAffinity
    !insertmacro FindHostIn "GIMP" $HostGimp
    IntOp $R4 $R4 + 1
  ${Loop}
FunctionEnd
Function FindHostsInEntries
  SetShellVarContext current
  Call FindHostsInKey
  SetShellVarContext all
  Call FindHostsInKey
FunctionEnd

; The hosts that read their plug-in folders from each user's settings, for
; the finish page: found by their uninstall entries (in both registry views,
; the machine's and the installing account's), by the keys PaintShop Pro and
; PhotoLine keep for the installing account, and Affinity by its folders in
; that account's profile. Only read here, never written.
Function FindToldHosts
  SetRegView 64
  Call FindHostsInEntries
  SetRegView 32
  Call FindHostsInEntries
  !insertmacro NativeRegView
  EnumRegKey $0 HKCU "Software\Corel\PaintShop Pro" 0
  ${If} $0 != ""
    StrCpy $HostPaintShop 1
  ${EndIf}
  EnumRegKey $0 HKCU "Software\Computerinsel\PhotoLine" 0
  ${If} $0 != ""
    StrCpy $HostPhotoLine 1
  ${EndIf}
  ExpandEnvStrings $0 "%APPDATA%\Affinity"
  ExpandEnvStrings $1 "%USERPROFILE%\.affinity"
  ${If} ${FileExists} "$0\*.*"
  ${OrIf} ${FileExists} "$1\*.*"
    StrCpy $HostAffinity 1
  ${EndIf}
FunctionEnd

; A host's name for the one line of hosts told which folder to add.
!macro ToldHost VAR IS VALUE NAME
  ${If} ${VAR} ${IS} "${VALUE}"
  ${AndIf} $R7 != ""
    StrCpy $R7 "$R7, ${NAME}"
  ${ElseIf} ${VAR} ${IS} "${VALUE}"
    StrCpy $R7 "${NAME}"
  ${EndIf}
!macroend

; $R9 = a line of the finish page. A silent install writes it out at once;
; the page takes it while there is room: its words are one string of at most
; NSIS_MAX_STRLEN letters, and the last line keeps its room. A line left off
; stays in the details, where each refusal is said too.
Function FinishLine
  StrCpy $R8 -11
  Call WriteStandard
  StrLen $0 "$FinishText$R9"
  ${If} $0 < ${FINISH_ROOM}
  ${AndIf} $FinishText != ""
    StrCpy $FinishText "$FinishText$\r$\n$R9"
  ${ElseIf} $0 < ${FINISH_ROOM}
    StrCpy $FinishText $R9
  ${EndIf}
FunctionEnd
!macro FinishLine TEXT
  StrCpy $R9 "${TEXT}"
  Call FinishLine
!macroend
!macro HostLine VAR IS VALUE TEXT
  ${If} ${VAR} ${IS} ${VALUE}
    !insertmacro FinishLine "${TEXT}"
  ${EndIf}
!macroend

; The finish page: where the filter is in each host that got it, then for
; each host found but left out why and what to do, then what to set in the
; hosts whose folders each user chooses.
Function ComposeFinishText
  StrCpy $FinishText ""
  ${If} $HostPhotoshop == 2
  ${OrIf} $HostElements == 2
  ${OrIf} $HostPaintNet == 2
  ${OrIf} $HostPhotoPlus == 2
  ${OrIf} $HostIrfanView == 2
    !insertmacro FinishLine "$(VELMORA_FINISH_INTRO)"
  ${EndIf}
  !insertmacro HostLine $HostPhotoshop == 2 "$(VELMORA_FINISH_PHOTOSHOP)"
  !insertmacro HostLine $HostElements == 2 "$(VELMORA_FINISH_ELEMENTS)"
  !insertmacro HostLine $HostPaintNet == 2 "$(VELMORA_FINISH_PAINTNET)"
  !insertmacro HostLine $HostPhotoPlus == 2 "$(VELMORA_FINISH_PHOTOPLUS)"
  !insertmacro HostLine $HostIrfanView == 2 "$(VELMORA_FINISH_IRFANVIEW)"
  FileOpen $6 "$PLUGINSDIR\left-out.txt" r
  ${Do}
    FileReadUTF16LE $6 $R9
    ${If} $R9 == ""  ; the end, or no such file
      ${Break}
    ${EndIf}
    StrCpy $R9 $R9 -2  ; without its line break
    Call FinishLine
  ${Loop}
  FileClose $6
  !insertmacro HostLine $HostIrfanView == 1 "$(VELMORA_FINISH_IRFANVIEW_PLUGIN)"
  ; The hosts whose plug-in folders each user sets, by name in one line: the
  ; page has room for no more (the menus are in the install text).
  StrCpy $R7 ""
  !insertmacro ToldHost $HostPaintNet == 1 "Paint.NET (8bf Filter)"
  !insertmacro ToldHost $HostPaintShop != "" "PaintShop Pro"
  !insertmacro ToldHost $HostPhotoLine != "" "PhotoLine"
  !insertmacro ToldHost $HostXnView != "" "XnView"
  !insertmacro ToldHost $HostGimp != "" "GIMP (pspi)"
  ${If} $R7 != ""
    !insertmacro FinishLine ""
    !insertmacro FinishLine "$(VELMORA_FINISH_TOLD) $R7"
  ${EndIf}
  ; Affinity reads only each user's own folders, which the per-user step
  ; serves; it loads no plug-in it does not know without this tick.
  ${If} $HostAffinity != ""
  ${AndIf} ${RunningX64}
    !insertmacro FinishLine "$(VELMORA_FINISH_AFFINITY_COPY)"
    !insertmacro FinishLine "$(VELMORA_FINISH_AFFINITY)"
  ${EndIf}
  ${If} $CheckFailed = 1
    !insertmacro FinishLine ""
    !insertmacro FinishLine "$(VELMORA_CHECK_FAILED)"
  ${EndIf}
  !insertmacro FinishLine ""
  StrCpy $R9 "$(VELMORA_FINISH_MORE) $INSTDIR\$(VELMORA_TEXT_FILE)"
  Call WriteStandard
  StrCpy $FinishText "$FinishText$\r$\n$R9"
FunctionEnd

; Records of files outside the roots (earlier releases placed copies in
; users' profiles) are dropped: those copies are their users' now, and the
; uninstaller deletes nothing there.
Function DropForeignRecords
  StrCpy $R3 0
  ${Do}
    EnumRegValue $R4 HKLM "${PLACED_KEY}" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    ${GetParent} $R4 $5
    StrCpy $R0 'check "$5" -- $OwnRoots "$OldInstDir"'
    Call Files
    ${If} $0 == 1
      DeleteRegValue HKLM "${PLACED_KEY}" $R4  ; the next value takes this index
      DetailPrint "$(VELMORA_RECORD_DROPPED)"
    ${Else}
      IntOp $R3 $R3 + 1
    ${EndIf}
  ${Loop}
FunctionEnd

Section "-Plug-in"
  SetShellVarContext all
  ; Checked once more, and made, before anything is written.
  StrCpy $R1 $INSTDIR
  StrCpy $R3 $OldInstDir
  StrCpy $R4 --create
  Call CheckOwnFolder
  ${If} $0 != 0
    Call Complain
    SetErrorLevel 2
    Abort
  ${EndIf}
  StrCpy $OwnRoots '$Roots "$INSTDIR"'
  ; The uninstaller and its entry come first, so that even an install that
  ; stops half way can be undone.
  SetDetailsPrint none
  SetOutPath "$PLUGINSDIR\own"
  WriteUninstaller "$PLUGINSDIR\own\Uninstall.exe"
  File "${TEXTS}\Install*.txt"
  File "/oname=$PLUGINSDIR\x64.8bf" "${X64_PLUGIN}"
  File "/oname=$PLUGINSDIR\x86.8bf" "${X86_PLUGIN}"
  ${If} ${IsNativeARM64}
    File "/oname=$PLUGINSDIR\arm64.8bf" "${ARM64_PLUGIN}"
  ${EndIf}
  ${If} ${RunningX64}
    ; Affinity, 64-bit only, reads its plug-ins from each user's profile:
    ; the per-user step copies them there.
    File "/oname=$PLUGINSDIR\own\VelmoraPerUser.exe" "${X64_PERUSER}"
  ${EndIf}
  SetOutPath $PLUGINSDIR
  SetDetailsPrint both
  StrCpy $R0 ""
  StrCpy $R1 $INSTDIR
  StrCpy $R8 "$PLUGINSDIR\own\*"
  StrCpy $R9 ""
  Call PlaceIntoOwnFolder
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  Call DropForeignRecords

  StrCpy $Windows x86
  ${If} ${RunningX64}
    StrCpy $Windows x64
  ${EndIf}
  ${If} ${IsNativeARM64}
    ; Windows on ARM runs ARM64 hosts natively and x64 and x86 ones under
    ; emulation: every build goes into a folder of its own.
    StrCpy $Windows arm64
    StrCpy $R0 "$PLUGINSDIR\arm64.8bf"
    StrCpy $R1 "$INSTDIR\arm64"
    Call PlaceIntoOwnFolder
  ${EndIf}
  ${If} ${RunningX64}
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
    StrCpy $R1 "$INSTDIR\x64"
    Call PlaceIntoOwnFolder
    Call SharedFolderBuild
    StrCpy $R1 "$COMMONFILES64\Adobe\Plug-Ins\CC"
    Call PlaceIntoSharedFolder
    StrCpy $SharedBuild64 $R7
    ; Each of these keeps $R0 and $R2 as they are.
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
    StrCpy $R2 64
    Call PlaceIntoPhotoshops
    Call PlaceIntoElements
    Call PlaceIntoPhotoPlus
    StrCpy $R6 IrfanView64
    Call PlaceIntoIrfanView
    Call PlaceIntoPaintNet
  ${EndIf}
  ; A 32-bit Windows has only the 32-bit view and the one Common Files.
  StrCpy $R0 "$PLUGINSDIR\x86.8bf"
  StrCpy $R1 "$INSTDIR\x86"
  Call PlaceIntoOwnFolder
  StrCpy $R0 "$PLUGINSDIR\x86.8bf"
  StrCpy $R1 "$COMMONFILES32\Adobe\Plug-Ins\CC"
  Call PlaceIntoSharedFolder
  StrCpy $SharedBuild32 $R7
  StrCpy $R2 32
  Call PlaceIntoPhotoshops
  Call PlaceIntoPhotoPlus
  StrCpy $R6 IrfanView
  Call PlaceIntoIrfanView
  ${IfNot} ${RunningX64}
    Call PlaceIntoPaintNet
  ${EndIf}

  ; An install over an earlier one in another folder leaves nothing there.
  ; (/D= may name the same folder by its short name, or in other case.)
  GetFullPathName /SHORT $R0 $INSTDIR
  GetFullPathName /SHORT $R1 $OldInstDir
  ${If} $OldInstDir != ""
  ${AndIf} $R0 != $R1  ; case-insensitive, as paths are
    Call RemoveOldFolder
  ${EndIf}

  ; For every user without a plugin.ini of their own, which always wins.
  ${If} $AppFolder == ""
    StrCpy $R9 "$(VELMORA_NO_SETTINGS)"
    Call Say
  ${ElseIf} $AppFolderGiven <> 1
  ${AndIf} $AppFolder == $KeptSetting
    DetailPrint "$(VELMORA_SETTING_WRITTEN)"  ; left exactly as it is
  ${Else}
    WriteRegStr HKLM "${SETTING_KEY}" "ApplicationPath" "$AppFolder\"
    DetailPrint "$(VELMORA_SETTING_WRITTEN)"
  ${EndIf}
  ${If} ${RunningX64}
    Call RegisterUserStep
  ${EndIf}

  Call FindToldHosts
  Call ComposeFinishText

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  !insertmacro ShowWholeLines
  ${If} $PlaceFailed = 1
  ${OrIf} $CheckFailed = 1
    SetErrorLevel 2
  ${ElseIf} ${RebootFlag}
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
  ${EndIf}
SectionEnd

; The uninstaller speaks the language the install was made in.
Function .onInstSuccess
  !insertmacro NativeRegView
  !insertmacro VelmoraSaveLanguage
FunctionEnd

Function un.onInit
  !insertmacro VelmoraChooseLanguage
  !insertmacro NativeRegView
  !insertmacro VelmoraInstalledLanguage
  StrCpy $CheckFailed 0
  Call un.UnpackFiles
  ; Its own folder, checked as the installer checked it: nothing is deleted
  ; through a folder others could have changed since.
  StrCpy $R1 $INSTDIR
  StrCpy $R3 $INSTDIR
  StrCpy $R4 ""
  Call un.CheckOwnFolder
  ${If} $0 != 0
    Call un.Complain
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Exactly the files that any install recorded where VelmoraFiles.exe finds
  ; them in folders administrators own; folders of hosts stay as they are.
  ; Anything else, such as earlier releases' copies in users' profiles, is
  ; its users' now and stays.
  StrCpy $R2 '$Roots "$INSTDIR"'
  StrCpy $R3 0
  ${Do}
    EnumRegValue $R4 HKLM "${PLACED_KEY}" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    IntOp $R3 $R3 + 1
    Call un.DeleteFile
  ${Loop}
  ; The folders it made in hosts' folders, when empty: the deeper first.
  ${For} $R5 1 2
    StrCpy $R3 0
    ${Do}
      EnumRegValue $R4 HKLM "${PLACED_FOLDERS_KEY}" $R3
      ${If} $R4 == ""
        ${Break}
      ${EndIf}
      IntOp $R3 $R3 + 1
      StrCpy $R0 'rmdir "$R4" -- $Roots'
      Call un.Files
    ${Loop}
  ${Next}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${SETTING_KEY}"
  ; No user's step runs again; the copies it made stay with their users.
  DeleteRegKey HKLM "${ACTIVE_SETUP_KEY}"
  StrCpy $R1 $INSTDIR
  StrCpy $R2 '-- $R2'
  Call un.RemoveOwnFiles
  !insertmacro ShowWholeLines
  ${If} ${RebootFlag}
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
  ${EndIf}
SectionEnd
