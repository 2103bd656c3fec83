; Installer of the Velmora filter plug-in, for every machine's users.
;
; It puts both builds into its own folder under Program Files (x64\ and x86\),
; copies the matching build into every host plug-in folder it finds (the
; shared Adobe folders and the PluginPath of each installed Photoshop version,
; read in the registry view of that build's architecture), writes the user's
; plugin.ini only when there is none, and registers an uninstaller that
; removes exactly the files it placed: every placed file is recorded in the
; registry the moment it is written.
;
; Built on Debian by tools/package.sh:
;   makensis -DVERSION=1.01 -DVERSION4=1.1.0.0 -DPUBLISHER=... \
;            -DX64_PLUGIN=... -DX86_PLUGIN=... -DOUTFILE=... VelmoraPlugin.nsi
;
; Command line: /S installs silently; APPLICATIONPATH=<folder of Velmora.exe>
; names the application for a new plugin.ini (quote it when it has spaces:
; "APPLICATIONPATH=C:\Program Files\Velmora"); /D=<folder> (last) chooses the
; installation folder. Exit codes: 0 done, 3010 a file in use is replaced
; when Windows next starts, 2 a file could not be placed or the command line
; is wrong, 1 cancelled.

Unicode true
ManifestSupportedOS all
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include MUI2.nsh

!define PRODUCT "Velmora Plugin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraPlugin"
; One value per placed file: its full path as the name, the run that placed
; it as the data.
!define PLACED_KEY "${UNINSTALL_KEY}\PlacedFiles"
!define SETTINGS_FOLDER "$PROFILE\VelmoraPro"
!define SETTINGS_FILE "$PROFILE\VelmoraPro\plugin.ini"
!define ERROR_SHARING_VIOLATION 32
!define ERROR_LOCK_VIOLATION 33
!define ERROR_USER_MAPPED_FILE 1224
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010

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

Var AppFolder       ; folder of Velmora.exe for a new plugin.ini, no trailing backslash
Var AppFolderGiven  ; 1 when APPLICATIONPATH= was on the command line
Var HaveSettings    ; 1 when the user has a plugin.ini already
Var RunId           ; marks the files this run placed
Var PlaceFailed     ; 1 when a file could not be placed

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE

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

; $R0 = a path; strips trailing backslashes (a drive root keeps its own).
Function TrimBackslashes
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

Function .onInit
  !insertmacro VelmoraChooseLanguage
  !insertmacro MUI_LANGDLL_DISPLAY
  !insertmacro NativeRegView
  System::Call 'kernel32::GetTickCount() i .r0'
  StrCpy $RunId "${VERSION} $0"
  StrCpy $PlaceFailed 0

  ${GetParameters} $R0
  ; Reinstalling keeps the earlier folder unless /D= names another.
  StrCpy $R1 "/D="
  Call FindOption
  ${If} $R3 <> 1
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${EndIf}
  ${EndIf}

  StrCpy $HaveSettings 0
  ${If} ${FileExists} "${SETTINGS_FILE}"
    StrCpy $HaveSettings 1
  ${EndIf}

  StrCpy $R1 "APPLICATIONPATH="
  Call FindOption
  StrCpy $AppFolderGiven $R3
  ${If} $AppFolderGiven = 1
    StrCpy $R0 $R2
    Call IsFullPath
    ${If} $R1 <> 1
      MessageBox MB_OK|MB_ICONSTOP "$(VELMORA_APPLICATIONPATH_NOT_FULL)" /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    Call TrimBackslashes
    StrCpy $AppFolder $R0
  ${ElseIf} ${FileExists} "$PROGRAMFILES64\Velmora\Velmora.exe"
    StrCpy $AppFolder "$PROGRAMFILES64\Velmora"
  ${ElseIf} ${FileExists} "$PROGRAMFILES32\Velmora\Velmora.exe"
    StrCpy $AppFolder "$PROGRAMFILES32\Velmora"
  ${ElseIfNot} ${Silent}
    ; Only a proposal on the folder page: a silent install without the
    ; application writes no settings file.
    StrCpy $AppFolder "$PROGRAMFILES64\Velmora"
  ${EndIf}
FunctionEnd

Function AppFolderPagePre
  ${If} $HaveSettings = 1
  ${OrIf} $AppFolderGiven = 1
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

; $R0 = the source build, $R1 = a host's plug-in folder. Hosts that are gone
; may leave their keys behind: a folder that does not exist is not created.
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

; $R0 = the source build, $R2 = 64 or 32: the registry view in which a host
; of the build's architecture registers. Places the build into the PluginPath
; of every Photoshop version found there.
Function PlaceIntoPhotoshops
  StrCpy $R3 0
  ${Do}
    ${If} $R2 == 64
      SetRegView 64
    ${Else}
      SetRegView 32
    ${EndIf}
    EnumRegKey $R4 HKLM "SOFTWARE\Adobe\Photoshop" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    ReadRegStr $R5 HKLM "SOFTWARE\Adobe\Photoshop\$R4" "PluginPath"
    !insertmacro NativeRegView
    ${If} $R5 != ""
      ExpandEnvStrings $R1 $R5
      Call PlaceIntoFolder
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${Loop}
  !insertmacro NativeRegView
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

  ${If} ${RunningX64}
    StrCpy $R0 "$PLUGINSDIR\x64.8bf"
    CreateDirectory "$INSTDIR\x64"
    StrCpy $R1 "$INSTDIR\x64"
    Call PlaceIntoFolder
    StrCpy $R1 "$COMMONFILES64\Adobe\Plug-Ins\CC"
    Call PlaceIntoFolder
    StrCpy $R2 64
    Call PlaceIntoPhotoshops
  ${EndIf}
  ; A 32-bit Windows has only the 32-bit view and the one Common Files.
  StrCpy $R0 "$PLUGINSDIR\x86.8bf"
  CreateDirectory "$INSTDIR\x86"
  StrCpy $R1 "$INSTDIR\x86"
  Call PlaceIntoFolder
  StrCpy $R1 "$COMMONFILES32\Adobe\Plug-Ins\CC"
  Call PlaceIntoFolder
  StrCpy $R2 32
  Call PlaceIntoPhotoshops

  ; The settings file is Velmora's and the user's: never changed once there.
  ${If} $HaveSettings = 1
    DetailPrint "$(VELMORA_SETTINGS_KEPT)"
  ${ElseIf} $AppFolder != ""
    CreateDirectory "${SETTINGS_FOLDER}"
    ClearErrors
    FileOpen $0 "${SETTINGS_FILE}" w
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONEXCLAMATION "$(VELMORA_SETTINGS_NOT_WRITTEN)" /SD IDOK
      StrCpy $PlaceFailed 1
    ${Else}
      FileWrite $0 "[General]$\r$\nApplicationPath=$AppFolder\$\r$\n"
      FileClose $0
      DetailPrint "$(VELMORA_SETTINGS_WRITTEN)"
    ${EndIf}
  ${Else}
    DetailPrint "$(VELMORA_NO_SETTINGS)"
  ${EndIf}

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} $PlaceFailed = 1
    SetErrorLevel 2
  ${ElseIf} ${RebootFlag}
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
  ${EndIf}
SectionEnd

Function un.onInit
  !insertmacro VelmoraChooseLanguage
  !insertmacro NativeRegView
FunctionEnd

Section "Uninstall"
  ; Exactly the files that any install recorded, wherever they are; folders
  ; of hosts stay as they are.
  StrCpy $R3 0
  ${Do}
    EnumRegValue $R4 HKLM "${PLACED_KEY}" $R3
    ${If} $R4 == ""
      ${Break}
    ${EndIf}
    IntOp $R3 $R3 + 1
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
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\x64"
  RMDir "$INSTDIR\x86"
  RMDir "$INSTDIR"
  ${If} ${RebootFlag}
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
  ${EndIf}
SectionEnd
