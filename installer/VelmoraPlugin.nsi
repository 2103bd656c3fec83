; Installer of the Velmora filter plug-in, for every machine's users.
;
; It puts both builds into its own folder under Program Files, each in a
; folder of its own that holds nothing else (x64\ and x86\: GIMP's bridge
; loads every DLL of a folder it scans), copies the matching build into every
; host plug-in folder it finds that administrators own (the shared Adobe
; folders, the PluginPath of each installed Photoshop and Photoshop Elements
; version, Paint.NET's Effects folder where PSFilterPdn is installed,
; PhotoPlus's plug-in folder and IrfanView's Adobe 8BF folder, each read in
; the registry view of that build's architecture), records the folder
; of Velmora.exe machine-wide (HKLM\SOFTWARE\Velmora Plugin, ApplicationPath,
; in the 64-bit view, where both plug-ins read it), and registers an
; uninstaller that removes exactly the files it placed: every placed file is
; recorded in the registry the moment it is written.
;
; It runs elevated, often as the system account, so it writes and deletes
; nothing in the folder of the users' profiles: every folder there belongs to
; its user, who could turn it into a link to any file. What a user needs in
; their own profile (the plug-in in Affinity's folders, which are per user)
; is done by VelmoraPerUser.exe, as that user: Windows' Active Setup starts it
; at each user's next sign-in.
;
; Built on Debian by tools/package.sh:
;   makensis -DVERSION=1.01 -DVERSION4=1.1.0.0 -DPUBLISHER=... \
;            -DX64_PLUGIN=... -DX86_PLUGIN=... -DARM64_PLUGIN=... -DX64_PERUSER=... -DTEXTS=<folder of
;            the Install*.txt files> -DHOST_FOLDER_CHECK=<VelmoraHostFolder.exe>
;            -DART=<folder of installer/art/render.sh's icon and pictures>
;            -DOUTFILE=... \
;            [-DSIGN_UNINSTALLER=tools/sign.sh] VelmoraPlugin.nsi
; The files' times stored in the installer are those of the files given:
; tools/package.sh sets them to the commit's time, so that the same commit
; gives the same installer.
;
; Command line: /S installs silently; APPLICATIONPATH=<folder of Velmora.exe>
; names the application for the machine-wide setting (quote it when it has spaces:
; "APPLICATIONPATH=C:\Program Files\Velmora"); /D=<folder> (last, unquoted)
; chooses the installation folder, also over an earlier install, whose folder
; is then emptied of what it placed there. Exit codes: 0 done, 3010 a file in
; use is replaced when Windows next starts, 2 a file could not be placed or
; the command line is wrong (a relative APPLICATIONPATH, or one the plug-in
; could not read in the system's code page), 1 cancelled.

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
; Where the users' profiles are: nothing is written or deleted below.
!define PROFILE_LIST "SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList"
!define ERROR_SHARING_VIOLATION 32
!define ERROR_LOCK_VIOLATION 33
!define ERROR_USER_MAPPED_FILE 1224
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010
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
Var ProfilesDir     ; the folder of the users' profiles (C:\Users), "" when unknown
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

; The install text in every language, beside the plug-ins' folders (never
; in them), for the steps the finish page has no room for.
!macro VelmoraInstallTexts
  File "/oname=$INSTDIR\Install.de.txt" "${TEXTS}\Install.de.txt"
  File "/oname=$INSTDIR\Install.es.txt" "${TEXTS}\Install.es.txt"
  File "/oname=$INSTDIR\Install.fr.txt" "${TEXTS}\Install.fr.txt"
  File "/oname=$INSTDIR\Install.it.txt" "${TEXTS}\Install.it.txt"
  File "/oname=$INSTDIR\Install.ja.txt" "${TEXTS}\Install.ja.txt"
  File "/oname=$INSTDIR\Install.ko.txt" "${TEXTS}\Install.ko.txt"
  File "/oname=$INSTDIR\Install.nl.txt" "${TEXTS}\Install.nl.txt"
  File "/oname=$INSTDIR\Install.pl.txt" "${TEXTS}\Install.pl.txt"
  File "/oname=$INSTDIR\Install.pt-BR.txt" "${TEXTS}\Install.pt-BR.txt"
  File "/oname=$INSTDIR\Install.ru.txt" "${TEXTS}\Install.ru.txt"
  File "/oname=$INSTDIR\Install.zh-CN.txt" "${TEXTS}\Install.zh-CN.txt"
  File "/oname=$INSTDIR\Install.zh-TW.txt" "${TEXTS}\Install.zh-TW.txt"
!macroend
!macro DeleteInstallTexts DIR
  Delete "${DIR}\Install.txt"
  Delete "${DIR}\Install.de.txt"
  Delete "${DIR}\Install.es.txt"
  Delete "${DIR}\Install.fr.txt"
  Delete "${DIR}\Install.it.txt"
  Delete "${DIR}\Install.ja.txt"
  Delete "${DIR}\Install.ko.txt"
  Delete "${DIR}\Install.nl.txt"
  Delete "${DIR}\Install.pl.txt"
  Delete "${DIR}\Install.pt-BR.txt"
  Delete "${DIR}\Install.ru.txt"
  Delete "${DIR}\Install.zh-CN.txt"
  Delete "${DIR}\Install.zh-TW.txt"
!macroend

; The installer and the uninstaller each have their own of these.
!macro PathFunctions UN
; $R0 = a path; strips trailing backslashes (a drive root keeps its own).
Function ${UN}TrimBackslashes
  ${Do}
    StrLen $0 $R0
    ${If} $0 <= 3
      ${Break}
    ${EndIf}
    StrCpy $1 $R0 1 -1
    ${If} $1 != "\"
      ${Break}
    ${EndIf}
    StrCpy $R0 $R0 -1
  ${Loop}
  StrCpy $1 $R0 1 -1
  ${If} $1 == "\"
    StrCpy $R0 $R0 -1
  ${EndIf}
FunctionEnd

; $R0 = a folder; gives it in $R0 in the one form that tells whether two
; names are the same folder: full, with long names where the folder exists
; (/D= may name the earlier folder by its short name), without a trailing
; backslash.
Function ${UN}NormalizeFolder
  System::Call 'kernel32::GetFullPathNameW(w R0, i ${NSIS_MAX_STRLEN}, w .r0, p 0) i .r1'
  ${If} $1 > 0
  ${AndIf} $1 < ${NSIS_MAX_STRLEN}
    StrCpy $R0 $0
  ${EndIf}
  System::Call 'kernel32::GetLongPathNameW(w R0, w .r0, i ${NSIS_MAX_STRLEN}) i .r1'
  ${If} $1 > 0
  ${AndIf} $1 < ${NSIS_MAX_STRLEN}
    StrCpy $R0 $0
  ${EndIf}
  Call ${UN}TrimBackslashes
FunctionEnd

; $R1 = a folder. Sets $0 to 1 when it lies in the folder of the users'
; profiles, whose folders belong to their users: an elevated process writes
; and deletes nothing there.
Function ${UN}IsInProfiles
  StrCpy $0 0
  ${If} $ProfilesDir == ""
    Return
  ${EndIf}
  Push $R0
  StrCpy $R0 $R1
  Call ${UN}NormalizeFolder
  StrLen $1 "$ProfilesDir\"
  StrCpy $2 "$R0\" $1
  Pop $R0
  ${If} $2 == "$ProfilesDir\"  ; case-insensitive, as paths are
    StrCpy $0 1
  ${EndIf}
FunctionEnd
!macroend
!insertmacro PathFunctions ""
!insertmacro PathFunctions "un."

; $R0 = the command line's parameters, $R1 = an option's name with its "=".
; Gives in $R2 the option's value and sets $R3 to 1 when the option is there.
; The value may be quoted ("NAME=C:\a b" or NAME="C:\a b"); unquoted it ends
; at the next blank.
Function FindOption
  StrCpy $R2 ""
  StrCpy $R3 0
  StrLen $0 $R1
  StrLen $1 $R0
  StrCpy $2 0
  ${DoWhile} $2 < $1
    StrCpy $3 $R0 $0 $2
    ${If} $3 == $R1  ; case-insensitive, as Windows options are
      IntOp $4 $2 - 1
      StrCpy $5 " "
      ${If} $2 > 0
        StrCpy $5 $R0 1 $4
      ${EndIf}
      ${If} $5 == " "
      ${OrIf} $5 == '"'
      ${OrIf} $5 == "$\t"
        StrCpy $R3 1
        ${Break}
      ${EndIf}
    ${EndIf}
    IntOp $2 $2 + 1
  ${Loop}
  ${If} $R3 <> 1
    Return
  ${EndIf}
  IntOp $2 $2 + $0
  StrCpy $6 " "  ; what ends the value
  StrCpy $3 $R0 1 $2
  ${If} $3 == '"'
    StrCpy $6 '"'
    IntOp $2 $2 + 1
  ${ElseIf} $5 == '"'
    StrCpy $6 '"'
  ${EndIf}
  ${DoWhile} $2 < $1
    StrCpy $3 $R0 1 $2
    ${If} $3 == $6
    ${OrIf} $3 == '"'
      ${Break}
    ${EndIf}
    ${If} $6 == " "
    ${AndIf} $3 == "$\t"
      ${Break}
    ${EndIf}
    StrCpy $R2 "$R2$3"
    IntOp $2 $2 + 1
  ${Loop}
FunctionEnd

; $R0 = a folder; sets $R1 to 1 when it is given in full (C:\... or \\...),
; the only form the plug-in accepts.
Function IsFullPath
  StrCpy $R1 0
  StrCpy $0 $R0 2
  ${If} $0 == "\\"
    StrLen $1 $R0
    ${If} $1 > 2
      StrCpy $R1 1
    ${EndIf}
    Return
  ${EndIf}
  StrCpy $0 $R0 1
  StrCpy $1 $R0 2 1
  ${If} $1 == ":\"
    ${If} $0 S>= "A"
    ${AndIf} $0 S<= "Z"
      StrCpy $R1 1
    ${ElseIf} $0 S>= "a"
    ${AndIf} $0 S<= "z"
      StrCpy $R1 1
    ${EndIf}
  ${EndIf}
FunctionEnd

; NSIS takes "/D=<folder>" off the end of the command line before the script
; runs, leaving it only in $INSTDIR, where it cannot be told from the default.
; What it took off is the difference between the process's own command line
; and $CMDLINE. Sets $R3 to 1 when /D= was given.
Function FindDirOption
  StrCpy $R3 0
  System::Call 'kernel32::GetCommandLineW() w .r0'
  StrLen $1 $CMDLINE
  StrCpy $2 $0 4 $1
  ${If} $2 S== " /D="
    StrCpy $R3 1
  ${EndIf}
FunctionEnd

; $R0 = a text; sets $0 to 1 when every letter of it has its own counterpart
; in the system's code page, the one the plug-in reads its settings file in
; (a letter that would become a look-alike or a question mark has none).
Function IsInCodePage
  StrCpy $0 1
  System::Call 'kernel32::GetACP() i .r1'
  ${If} $1 = 65001
    Return  ; UTF-8 holds every letter
  ${EndIf}
  ; WC_NO_BEST_FIT_CHARS
  System::Call 'kernel32::WideCharToMultiByte(i 0, i 0x400, w R0, i -1, p 0, i 0, p 0, *i 0 r2) i .r1'
  ${If} $1 = 0
  ${OrIf} $2 <> 0
    StrCpy $0 0
  ${EndIf}
FunctionEnd

; $R0 = a folder. The plug-in reads its settings file in the system's code
; page, so a folder with letters outside it is written in its short (8.3)
; form, which Windows gives only for an existing folder on a disk that keeps
; short names. Sets $R1 to 1 and $R0 to the form to write, or $R1 to 0 when
; neither form can be read.
Function FitCodePage
  StrCpy $R1 1
  Call IsInCodePage
  ${If} $0 = 1
    Return
  ${EndIf}
  StrCpy $R1 0
  System::Call 'kernel32::GetShortPathNameW(w R0, w .r3, i ${NSIS_MAX_STRLEN}) i .r1'
  ${If} $1 = 0
  ${OrIf} $1 >= ${NSIS_MAX_STRLEN}
    Return
  ${EndIf}
  Push $R0
  StrCpy $R0 $3
  Call IsInCodePage
  ${If} $0 = 1
    StrCpy $R1 1
    Pop $0  ; the long form
  ${Else}
    Pop $R0
  ${EndIf}
FunctionEnd

; $R9 = a text, $R8 = -11 for the standard output or -12 for the standard
; error. A silent install shows no window, so what its pages would say goes
; to the output it was started with, if any, for the log of whoever deployed
; it: a console gets it as it is, anything else UTF-8.
Function WriteStandard
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
Function Complain
  MessageBox MB_OK|MB_ICONSTOP "$R9" /SD IDOK
  StrCpy $R8 -12
  Call WriteStandard
FunctionEnd

; $R9 = a line for the details, and in a silent install for its standard
; output: a host folder left out, and why.
Function Say
  DetailPrint "$R9"
  Push $R8
  StrCpy $R8 -11
  Call WriteStandard
  Pop $R8
FunctionEnd

; The folder of the users' profiles, in the form NormalizeFolder gives.
!macro FindProfilesDir UN
  ReadRegStr $R0 HKLM "${PROFILE_LIST}" "ProfilesDirectory"
  ${If} $R0 != ""
    ExpandEnvStrings $R0 $R0
    Call ${UN}NormalizeFolder
  ${EndIf}
  StrCpy $ProfilesDir $R0
!macroend

Function .onInit
  !insertmacro NativeRegView
  !insertmacro VelmoraChooseLanguage
  !insertmacro VelmoraLanguageDialog
  System::Call 'kernel32::GetTickCount() i .r0'
  StrCpy $RunId "${VERSION} $0"
  StrCpy $PlaceFailed 0

  ; Reinstalling keeps the earlier folder unless /D= names another.
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  Call TrimBackslashes
  StrCpy $OldInstDir $R0
  Call FindDirOption
  ${If} $R3 <> 1
  ${AndIf} $OldInstDir != ""
    StrCpy $INSTDIR $OldInstDir
  ${EndIf}

  !insertmacro FindProfilesDir ""

  ${GetParameters} $R0
  StrCpy $R1 "APPLICATIONPATH="
  Call FindOption
  StrCpy $AppFolderGiven $R3
  ${If} $AppFolderGiven = 1
    StrCpy $R0 $R2
    Call IsFullPath
    ${If} $R1 <> 1
      StrCpy $R9 "$(VELMORA_APPLICATIONPATH_NOT_FULL)"
      Call Complain
      SetErrorLevel 2
      Quit
    ${EndIf}
    Call TrimBackslashes
    Call FitCodePage
    ${If} $R1 <> 1
      StrCpy $R9 "$(VELMORA_APPLICATIONPATH_OUTSIDE_CODE_PAGE)"
      Call Complain
      SetErrorLevel 2
      Quit
    ${EndIf}
    StrCpy $AppFolder $R0
  ${Else}
    ; A reinstall keeps the machine-wide setting unless told another.
    ReadRegStr $R0 HKLM "${SETTING_KEY}" "ApplicationPath"
    Call TrimBackslashes
    StrCpy $AppFolder $R0
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

Function AppFolderPagePre
  ${If} $AppFolderGiven = 1
    Abort  ; skips the page
  ${EndIf}
FunctionEnd

Function AppFolderPageLeave
  StrCpy $R0 $AppFolder
  Call IsFullPath
  ${If} $R1 <> 1
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(VELMORA_APP_FOLDER_NOT_FULL)"
    Abort
  ${EndIf}
  Call TrimBackslashes
  StrCpy $AppFolder $R0
  ${IfNot} ${FileExists} "$AppFolder\Velmora.exe"
    MessageBox MB_YESNO|MB_ICONQUESTION "$(VELMORA_APP_NOT_THERE)" IDYES +2
    Abort
  ${EndIf}
  Call FitCodePage
  ${If} $R1 <> 1
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(VELMORA_APP_FOLDER_OUTSIDE_CODE_PAGE)"
    Abort
  ${EndIf}
  StrCpy $AppFolder $R0
FunctionEnd

; $1 = an error code; gives the system's words for it in $3.
Function ErrorText
  ; FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS
  System::Call 'kernel32::FormatMessageW(i 0x1200, p 0, i r1, i 0, w .r3, i ${NSIS_MAX_STRLEN}, p 0) i .r0'
  ${If} $0 = 0
    StrCpy $3 "$(VELMORA_ERROR_CODE)"
  ${Else}
    StrCpy $3 "$(VELMORA_ERROR_TEXT)"
  ${EndIf}
FunctionEnd

; $R0 = the source build, $R1 = the destination file. Copies the build there
; and records the file for the uninstaller. A file that a running host has
; loaded cannot be overwritten: the user may close the host and retry, or the
; new build waits beside it and replaces it when Windows next starts.
Function PlaceFile
  StrCpy $R8 $R0
  StrCpy $R9 $R1
  ReadRegStr $0 HKLM "${PLACED_KEY}" $R9
  ${If} $0 == $RunId
    Return  ; two hosts share this folder
  ${EndIf}
  ${Do}
    System::Call 'kernel32::CopyFileW(w R8, w R9, i 0) i .r0 ?e'
    Pop $1
    ${If} $0 <> 0
      WriteRegStr HKLM "${PLACED_KEY}" $R9 $RunId
      DetailPrint "$(VELMORA_PLACED)"
      Return
    ${EndIf}
    ${If} $1 = ${ERROR_SHARING_VIOLATION}
    ${OrIf} $1 = ${ERROR_LOCK_VIOLATION}
    ${OrIf} $1 = ${ERROR_USER_MAPPED_FILE}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(VELMORA_PLACE_IN_USE)" /SD IDCANCEL IDRETRY place_retry
      StrCpy $2 "$R9.new"
      System::Call 'kernel32::CopyFileW(w R8, w r2, i 0) i .r0 ?e'
      Pop $1
      ${If} $0 <> 0
        ; Recorded first: an uninstall before the restart removes both.
        WriteRegStr HKLM "${PLACED_KEY}" $R9 $RunId
        WriteRegStr HKLM "${PLACED_KEY}" $2 $RunId
        Rename /REBOOTOK $2 $R9
        DetailPrint "$(VELMORA_PLACED_AT_RESTART)"
        Return
      ${EndIf}
      StrCpy $R9 $2
    ${EndIf}
    Call ErrorText
    MessageBox MB_RETRYCANCEL|MB_ICONSTOP "$(VELMORA_PLACE_FAILED)" /SD IDCANCEL IDRETRY place_retry
    DetailPrint "$(VELMORA_NOT_PLACED)"
    StrCpy $PlaceFailed 1
    Return
    place_retry:
  ${Loop}
FunctionEnd

; $R0 = the source build, $R1 = a folder. Places the build there as
; Velmora.8bf. Hosts that are gone may leave their keys behind: a folder that
; does not exist is not created.
Function PlaceIntoFolder
  Push $R0
  StrCpy $R0 $R1
  Call TrimBackslashes
  StrCpy $R1 $R0
  Pop $R0
  ${If} ${FileExists} "$R1\*.*"
    StrCpy $R1 "$R1\Velmora.8bf"
    Call PlaceFile
  ${Else}
    DetailPrint "$(VELMORA_NO_SUCH_FOLDER)"
  ${EndIf}
FunctionEnd

; $R1 = a host's plug-in folder, as the registry names it. Sets $0 to 0 when
; administrators own it, checked on the disk by VelmoraHostFolder.exe: it
; lies in a Program Files folder, whose folders only administrators can make
; or change, and none of its folders from there down is a link (a junction
; or symbolic link), which could lead anywhere. Else $0 is 1, outside
; Program Files, 2, a link on the way, or 3, no such folder (any other
; answer counts as a link: nothing is written). $R1 comes back in full.
Function CheckHostFolder
  Push $R0
  StrCpy $R0 $R1
  Call NormalizeFolder
  StrCpy $R1 $R0
  Pop $R0
  nsExec::Exec '"$PLUGINSDIR\VelmoraHostFolder.exe" "$R1" "$PROGRAMFILES64" "$PROGRAMFILES32"'
  Pop $0
  ${If} $0 != 0
  ${AndIf} $0 != 1
  ${AndIf} $0 != 3
    StrCpy $0 2
  ${EndIf}
FunctionEnd

; $R0 = the source build, $R1 = a host's plug-in folder: placed into only
; where administrators own it, and the installer says why not elsewhere.
Function PlaceIntoHostFolder
  Call IsInProfiles
  ${If} $0 = 1
    DetailPrint "$(VELMORA_IN_A_PROFILE)"
    Return
  ${EndIf}
  ${IfNot} ${FileExists} "$R1\*.*"
    DetailPrint "$(VELMORA_NO_SUCH_FOLDER)"
    Return
  ${EndIf}
  Call CheckHostFolder
  ${If} $0 = 1
    StrCpy $R9 "$(VELMORA_NOT_IN_PROGRAM_FILES)"
    Call Say
  ${ElseIf} $0 = 2
    StrCpy $R9 "$(VELMORA_LINK_ON_THE_WAY)"
    Call Say
  ${ElseIf} $0 = 3
    DetailPrint "$(VELMORA_NO_SUCH_FOLDER)"
  ${Else}
    Call PlaceIntoFolder
  ${EndIf}
FunctionEnd

; $R1 = a folder the installer makes in a checked host folder, to hold a
; build beside the other one. Recorded when made here, so that the
; uninstaller removes it, and only then.
Function MakeOwnSubfolder
  ${IfNot} ${FileExists} "$R1\*.*"
    CreateDirectory $R1
    ${If} ${FileExists} "$R1\*.*"
      WriteRegStr HKLM "${PLACED_FOLDERS_KEY}" $R1 $RunId
    ${EndIf}
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
; of the build's architecture registers. Places the build into the PluginPath
; of every Photoshop version found there.
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
    StrCpy $HostPhotoshop 1
    ${If} $R5 != ""
      ExpandEnvStrings $R1 $R5
      ${If} $Windows == arm64
      ${AndIf} $R2 = 64
        ; A native ARM64 Photoshop and an x64 one under emulation share the
        ; 64-bit view: each gets the build its own program loads.
        Push $R0
        Call PhotoshopBuild
        ${If} $R0 != ""
          Call PlaceIntoHostFolder
        ${EndIf}
        Pop $R0
      ${Else}
        Call PlaceIntoHostFolder
      ${EndIf}
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${Loop}
  !insertmacro NativeRegView
FunctionEnd

; $R1 = a Photoshop version's plug-in folder (<program folder>\Plug-ins): $R0
; becomes the build its Photoshop.exe loads on this Windows, "" for none.
Function PhotoshopBuild
  Push $R1
  StrCpy $0 $R1 1 -1
  ${If} $0 == "\"
    StrCpy $R1 $R1 -1
  ${EndIf}
  ${GetParent} $R1 $R1
  nsExec::Exec '"$PLUGINSDIR\VelmoraHostFolder.exe" --build-for $Windows "$R1\Photoshop.exe"'
  Pop $0
  Pop $R1
  Call BuildOfAnswer
FunctionEnd

; $0 = the answer of VelmoraHostFolder.exe --build-for or --shared-build:
; $R0 becomes that build's file, "" for none.
Function BuildOfAnswer
  ${If} $0 = 2
    StrCpy $R0 "$PLUGINSDIR\arm64.8bf"
  ${ElseIf} $0 = 1
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
  ${ElseIf} $0 = 0
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
      ExpandEnvStrings $R5 $R5
      StrCpy $0 $R5 1 -1
      ${If} $0 == "\"
        StrCpy $R5 $R5 -1
      ${EndIf}
      ${GetParent} $R5 $R5
      StrCpy $R7 '$R7 "$R5\Photoshop.exe"'
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${Loop}
  !insertmacro NativeRegView
  nsExec::Exec '"$PLUGINSDIR\VelmoraHostFolder.exe" --shared-build arm64$R7'
  Pop $0
  Call BuildOfAnswer
  ${If} $R0 == ""
    StrCpy $R0 "$PLUGINSDIR\arm64.8bf"
  ${EndIf}
FunctionEnd

; $R0 = the 64-bit build: Photoshop Elements loads 64-bit plug-ins only, from
; the folder each version names as the default value of its PluginPath key.
Function PlaceIntoElements
  StrCpy $R3 0
  ${Do}
    SetRegView 64
    EnumRegKey $R4 HKLM "SOFTWARE\Adobe\Photoshop Elements" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    ReadRegStr $R5 HKLM "SOFTWARE\Adobe\Photoshop Elements\$R4\PluginPath" ""
    !insertmacro NativeRegView
    StrCpy $HostElements 1
    ${If} $R5 != ""
      ExpandEnvStrings $R1 $R5
      Call PlaceIntoHostFolder
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${Loop}
  !insertmacro NativeRegView
FunctionEnd

; $R0 = the source build, $R2 = 64 or 32: PhotoPlus names its plug-in folder
; per version, in the view of its architecture.
Function PlaceIntoPhotoPlus
  StrCpy $R3 0
  ${Do}
    !insertmacro HostRegView
    EnumRegKey $R4 HKLM "SOFTWARE\Serif\PhotoPlus" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    ReadRegStr $R5 HKLM "SOFTWARE\Serif\PhotoPlus\$R4\Directories" "PluginRootDir"
    !insertmacro NativeRegView
    StrCpy $HostPhotoPlus 1
    ${If} $R5 != ""
      ExpandEnvStrings $R1 $R5
      Call PlaceIntoHostFolder
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${Loop}
  !insertmacro NativeRegView
FunctionEnd

; $R0 = the source build, $R2 = 64 or 32, $R6 = the name of IrfanView's
; uninstall entry in that view (IrfanView64 or IrfanView). Its Adobe 8BF
; PlugIn loads filters from Plugins\Adobe 8BF in IrfanView's folder, which
; exists once that PlugIn is installed.
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
  StrCpy $R1 "$R5\Plugins\Adobe 8BF"
  StrCpy $R5 $R1
  ${IfNot} ${FileExists} "$R1\*.*"
    DetailPrint "$(VELMORA_NO_SUCH_FOLDER)"
    Return
  ${EndIf}
  Call PlaceIntoHostFolder
  ${If} ${FileExists} "$R5\Velmora.8bf"
    StrCpy $HostIrfanView 2
  ${EndIf}
FunctionEnd

; Paint.NET with PSFilterPdn in its Effects folder searches that folder and
; the folders below it for filters, and of two with the same name prefers
; the 64-bit one: both builds go into a folder of their own there, each in
; its own folder below. $R2 = 64 on 64-bit Windows (both builds), 32 on
; 32-bit Windows (the 32-bit one).
Function PlaceIntoPaintNet
  !insertmacro HostRegView
  ReadRegStr $R5 HKLM "SOFTWARE\Paint.NET" "TARGETDIR"
  !insertmacro NativeRegView
  ${If} $R5 == ""
    Return
  ${EndIf}
  StrCpy $HostPaintNet 1
  StrCpy $R0 $R5
  Call TrimBackslashes
  StrCpy $R5 "$R0\Effects"
  ${IfNot} ${FileExists} "$R5\PSFilterPdn.dll"
  ${AndIfNot} ${FileExists} "$R5\PSFilterPdn\PSFilterPdn.dll"
    StrCpy $R9 "$(VELMORA_NO_PSFILTERPDN)"
    Call Say
    Return
  ${EndIf}
  ; The folders are made only inside a checked Effects folder.
  StrCpy $R1 $R5
  Call IsInProfiles
  ${If} $0 = 1
    DetailPrint "$(VELMORA_IN_A_PROFILE)"
    Return
  ${EndIf}
  Call CheckHostFolder
  ${If} $0 = 1
    StrCpy $R9 "$(VELMORA_NOT_IN_PROGRAM_FILES)"
    Call Say
    Return
  ${ElseIf} $0 = 2
    StrCpy $R9 "$(VELMORA_LINK_ON_THE_WAY)"
    Call Say
    Return
  ${ElseIf} $0 <> 0
    DetailPrint "$(VELMORA_NO_SUCH_FOLDER)"
    Return
  ${EndIf}
  StrCpy $R5 "$R1\${PRODUCT}"
  StrCpy $R1 $R5
  Call MakeOwnSubfolder
  ${If} $R2 == 64
    StrCpy $R1 "$R5\x64"
    Call MakeOwnSubfolder
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
    Call PlaceIntoHostFolder
  ${EndIf}
  StrCpy $R1 "$R5\x86"
  Call MakeOwnSubfolder
  StrCpy $R0 "$PLUGINSDIR\x86.8bf"
  Call PlaceIntoHostFolder
  StrCpy $HostPaintNet 2
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
  DetailPrint "$(VELMORA_USER_STEP)"
FunctionEnd

; Removes from $OldInstDir, the folder of an earlier install, the files that
; install recorded there and its uninstaller; their records go too. Files
; this run placed (the new folder may lie inside the old one) stay.
Function RemoveOldFolder
  StrCpy $R5 "$OldInstDir\"
  StrLen $R6 $R5
  StrCpy $R2 0  ; 1 once a file is left for Windows' next start
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
    ${If} ${FileExists} $R4
      old_retry:
      Delete $R4
      ${If} ${FileExists} $R4
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(VELMORA_REMOVE_IN_USE)" /SD IDCANCEL IDRETRY old_retry
        Delete /REBOOTOK $R4
        StrCpy $R2 1
      ${EndIf}
    ${EndIf}
    DeleteRegValue HKLM "${PLACED_KEY}" $R4  ; the next value takes this index
  ${Loop}
  Delete "$OldInstDir\Uninstall.exe"
  Delete "$OldInstDir\VelmoraPerUser.exe"
  !insertmacro DeleteInstallTexts $OldInstDir
  ${If} $R2 = 1
    ; The folders go after the files, when Windows next starts.
    RMDir /REBOOTOK "$OldInstDir\x64"
    RMDir /REBOOTOK "$OldInstDir\x86"
    RMDir /REBOOTOK "$OldInstDir"
  ${Else}
    RMDir "$OldInstDir\x64"
    RMDir "$OldInstDir\x86"
    RMDir "$OldInstDir"
  ${EndIf}
  DetailPrint "$(VELMORA_MOVED_FROM)"
FunctionEnd

; $R0 = a text, $R1 = what to look for: $R2 is 1 when the text holds it,
; in any case.
Function Contains
  StrCpy $R2 0
  StrLen $0 $R1
  StrLen $1 $R0
  IntOp $1 $1 - $0
  StrCpy $2 0
  ${DoWhile} $2 <= $1
    StrCpy $3 $R0 $0 $2
    ${If} $3 == $R1
      StrCpy $R2 1
      Return
    ${EndIf}
    IntOp $2 $2 + 1
  ${Loop}
FunctionEnd

; $R3 = a display name from an uninstall entry: marks the hosts that name it.
!macro FindHostIn NAME VAR
  StrCpy $R1 "${NAME}"
  Call Contains
  ${If} $R2 = 1
  ${AndIf} ${VAR} == ""
    StrCpy ${VAR} 1
  ${EndIf}
!macroend
Function FindHostsInEntries
  StrCpy $R4 0
  ${Do}
    ${If} $R5 == HKCU
      EnumRegKey $R6 HKCU "${UNINSTALL_LIST}" $R4
    ${Else}
      EnumRegKey $R6 HKLM "${UNINSTALL_LIST}" $R4
    ${EndIf}
    ${If} $R6 == ""
      ${Break}
    ${EndIf}
    ${If} $R5 == HKCU
      ReadRegStr $R0 HKCU "${UNINSTALL_LIST}\$R6" "DisplayName"
    ${Else}
      ReadRegStr $R0 HKLM "${UNINSTALL_LIST}\$R6" "DisplayName"
    ${EndIf}
    !insertmacro FindHostIn "PaintShop Pro" $HostPaintShop
    !insertmacro FindHostIn "PhotoLine" $HostPhotoLine
    !insertmacro FindHostIn "XnView" $HostXnView
    !insertmacro FindHostIn "Affinity" $HostAffinity
    !insertmacro FindHostIn "GIMP" $HostGimp
    IntOp $R4 $R4 + 1
  ${Loop}
FunctionEnd

; The hosts that read their plug-in folders from each user's settings, for
; the finish page: found by their uninstall entries (in both registry views,
; the machine's and the installing account's), by the keys PaintShop Pro and
; PhotoLine keep for the installing account, and Affinity by its folders in
; that account's profile. Only read here, never written.
Function FindToldHosts
  SetRegView 64
  StrCpy $R5 HKLM
  Call FindHostsInEntries
  StrCpy $R5 HKCU
  Call FindHostsInEntries
  SetRegView 32
  StrCpy $R5 HKLM
  Call FindHostsInEntries
  StrCpy $R5 HKCU
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

!macro ToldHost NAME
  ${If} $R7 != ""
    StrCpy $R7 "$R7, "
  ${EndIf}
  StrCpy $R7 "$R7${NAME}"
!macroend

!macro FinishLine TEXT
  StrCpy $FinishText "$FinishText$\r$\n${TEXT}"
!macroend

; The finish page: one line for each host found on this machine, where the
; filter is in those it was placed for and what to set in the others.
Function ComposeFinishText
  StrCpy $FinishText "$(VELMORA_FINISH_INTRO)"
  ${If} $HostPhotoshop != ""
    !insertmacro FinishLine "$(VELMORA_FINISH_PHOTOSHOP)"
  ${EndIf}
  ${If} $HostElements != ""
    !insertmacro FinishLine "$(VELMORA_FINISH_ELEMENTS)"
  ${EndIf}
  ${If} $HostPaintNet == 2
    !insertmacro FinishLine "$(VELMORA_FINISH_PAINTNET)"
  ${EndIf}
  ${If} $HostPhotoPlus != ""
    !insertmacro FinishLine "$(VELMORA_FINISH_PHOTOPLUS)"
  ${EndIf}
  ${If} $HostIrfanView == 2
    !insertmacro FinishLine "$(VELMORA_FINISH_IRFANVIEW)"
  ${ElseIf} $HostIrfanView != ""
    !insertmacro FinishLine "$(VELMORA_FINISH_IRFANVIEW_PLUGIN)"
  ${EndIf}
  ; The hosts whose plug-in folders each user sets, by name in one line: the
  ; page has room for no more (the menus are in the install text).
  StrCpy $R7 ""
  ${If} $HostPaintNet == 1
    !insertmacro ToldHost "Paint.NET (8bf Filter)"
  ${EndIf}
  ${If} $HostAffinity != ""
    !insertmacro ToldHost "Affinity"
  ${EndIf}
  ${If} $HostPaintShop != ""
    !insertmacro ToldHost "PaintShop Pro"
  ${EndIf}
  ${If} $HostPhotoLine != ""
    !insertmacro ToldHost "PhotoLine"
  ${EndIf}
  ${If} $HostXnView != ""
    !insertmacro ToldHost "XnView"
  ${EndIf}
  ${If} $HostGimp != ""
    !insertmacro ToldHost "GIMP (pspi)"
  ${EndIf}
  ${If} $R7 != ""
    StrCpy $FinishText "$FinishText$\r$\n$\r$\n$(VELMORA_FINISH_TOLD) $R7"
  ${EndIf}
  ; Affinity loads no plug-in it does not know without this tick.
  ${If} $HostAffinity != ""
    !insertmacro FinishLine "$(VELMORA_FINISH_AFFINITY)"
  ${EndIf}
  StrCpy $FinishText "$FinishText$\r$\n$\r$\n$(VELMORA_FINISH_MORE) $INSTDIR\$(VELMORA_TEXT_FILE)"
FunctionEnd

Section "-Plug-in"
  SetShellVarContext all
  SetOutPath $INSTDIR
  ; The uninstaller and its entry come first, so that even an install that
  ; stops half way can be undone.
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  InitPluginsDir
  File "/oname=$PLUGINSDIR\x64.8bf" "${X64_PLUGIN}"
  File "/oname=$PLUGINSDIR\x86.8bf" "${X86_PLUGIN}"
  File "/oname=$PLUGINSDIR\VelmoraHostFolder.exe" "${HOST_FOLDER_CHECK}"

  StrCpy $Windows x86
  ${If} ${RunningX64}
    StrCpy $Windows x64
  ${EndIf}
  ${If} ${IsNativeARM64}
    ; Windows on ARM runs ARM64 hosts natively and x64 and x86 ones under
    ; emulation: every build goes into a folder of its own.
    StrCpy $Windows arm64
    File "/oname=$PLUGINSDIR\arm64.8bf" "${ARM64_PLUGIN}"
    StrCpy $R0 "$PLUGINSDIR\arm64.8bf"
    CreateDirectory "$INSTDIR\arm64"
    StrCpy $R1 "$INSTDIR\arm64"
    Call PlaceIntoFolder
  ${EndIf}
  ${If} ${RunningX64}
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
    CreateDirectory "$INSTDIR\x64"
    StrCpy $R1 "$INSTDIR\x64"
    Call PlaceIntoFolder
    Call SharedFolderBuild
    StrCpy $R1 "$COMMONFILES64\Adobe\Plug-Ins\CC"
    Call PlaceIntoHostFolder
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
    StrCpy $R2 64
    Call PlaceIntoPhotoshops
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
    Call PlaceIntoElements
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
    Call PlaceIntoPhotoPlus
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
    StrCpy $R6 IrfanView64
    Call PlaceIntoIrfanView
    Call PlaceIntoPaintNet
    ; Affinity, 64-bit only, reads its plug-ins from each user's profile:
    ; the per-user step copies them there.
    File "/oname=$INSTDIR\VelmoraPerUser.exe" "${X64_PERUSER}"
  ${EndIf}
  ; A 32-bit Windows has only the 32-bit view and the one Common Files.
  StrCpy $R0 "$PLUGINSDIR\x86.8bf"
  CreateDirectory "$INSTDIR\x86"
  StrCpy $R1 "$INSTDIR\x86"
  Call PlaceIntoFolder
  StrCpy $R1 "$COMMONFILES32\Adobe\Plug-Ins\CC"
  Call PlaceIntoHostFolder
  StrCpy $R2 32
  Call PlaceIntoPhotoshops
  StrCpy $R0 "$PLUGINSDIR\x86.8bf"
  Call PlaceIntoPhotoPlus
  StrCpy $R0 "$PLUGINSDIR\x86.8bf"
  StrCpy $R6 IrfanView
  Call PlaceIntoIrfanView
  ${IfNot} ${RunningX64}
    Call PlaceIntoPaintNet
  ${EndIf}

  ; The install texts, for the finish page's last line.
  File "/oname=$INSTDIR\Install.txt" "${TEXTS}\Install.txt"
  !insertmacro VelmoraInstallTexts
  ; An install over an earlier one in another folder leaves nothing there.
  ${If} $OldInstDir != ""
    StrCpy $R0 $OldInstDir
    Call NormalizeFolder
    StrCpy $R1 $R0
    StrCpy $R0 $INSTDIR
    Call NormalizeFolder
    ${If} $R0 != $R1  ; case-insensitive, as paths are
      Call RemoveOldFolder
    ${EndIf}
  ${EndIf}

  ; For every user without a plugin.ini of their own, which always wins.
  ${If} $AppFolder != ""
    WriteRegStr HKLM "${SETTING_KEY}" "ApplicationPath" "$AppFolder\"
    DetailPrint "$(VELMORA_SETTING_WRITTEN)"
  ${Else}
    DetailPrint "$(VELMORA_NO_SETTINGS)"
  ${EndIf}
  ${If} ${RunningX64}
    Call RegisterUserStep
  ${EndIf}

  Call FindToldHosts
  Call ComposeFinishText
  StrCpy $R9 $FinishText
  StrCpy $R8 -11
  Call WriteStandard

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} $PlaceFailed = 1
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
  !insertmacro FindProfilesDir "un."
FunctionEnd

Section "Uninstall"
  ; Exactly the files that any install recorded, wherever they are; folders
  ; of hosts stay as they are. Earlier releases also placed copies in users'
  ; profiles: those are the users' now, left as the per-user step's are.
  StrCpy $R3 0
  ${Do}
    EnumRegValue $R4 HKLM "${PLACED_KEY}" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    IntOp $R3 $R3 + 1
    StrCpy $R1 $R4
    Call un.IsInProfiles
    ${If} $0 = 1
      ${Continue}
    ${EndIf}
    ${IfNot} ${FileExists} $R4
      ${Continue}
    ${EndIf}
    retry_delete:
    Delete $R4
    ${If} ${FileExists} $R4
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(VELMORA_REMOVE_IN_USE)" /SD IDCANCEL IDRETRY retry_delete
      Delete /REBOOTOK $R4
      DetailPrint "$(VELMORA_REMOVED_AT_RESTART)"
    ${Else}
      DetailPrint "$(VELMORA_REMOVED)"
    ${EndIf}
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
      RMDir $R4
    ${Loop}
  ${Next}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${SETTING_KEY}"
  ; No user's step runs again; the copies it made stay with their users.
  DeleteRegKey HKLM "${ACTIVE_SETUP_KEY}"
  DetailPrint "$(VELMORA_USER_COPIES_KEPT)"
  Delete "$INSTDIR\VelmoraPerUser.exe"
  !insertmacro DeleteInstallTexts $INSTDIR
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\x64"
  RMDir "$INSTDIR\x86"
  RMDir "$INSTDIR\arm64"
  RMDir "$INSTDIR"
  ${If} ${RebootFlag}
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
  ${EndIf}
SectionEnd
