; The installer's languages: the one of the user's Windows display language
; when it is among them (NSIS chooses it before .onInit), else English; an
; interactive install offers the choice first, the earlier install's choice
; preselected, and the uninstaller speaks the install's language. Each
; language's own words are in the file of its name, with the names of
; English.nsh.

!macro VelmoraLanguage NAME
  !insertmacro MUI_LANGUAGE "${NAME}"
  !include "${__FILEDIR__}\${NAME}.nsh"
!macroend

; English first: the fallback for every other display language.
!insertmacro VelmoraLanguage "English"
!insertmacro VelmoraLanguage "German"
!insertmacro VelmoraLanguage "French"
!insertmacro VelmoraLanguage "Spanish"
!insertmacro VelmoraLanguage "Italian"
!insertmacro VelmoraLanguage "PortugueseBR"
!insertmacro VelmoraLanguage "Dutch"
!insertmacro VelmoraLanguage "Polish"
!insertmacro VelmoraLanguage "Russian"
!insertmacro VelmoraLanguage "Japanese"
!insertmacro VelmoraLanguage "Korean"
!insertmacro VelmoraLanguage "SimpChinese"
!insertmacro VelmoraLanguage "TradChinese"

!insertmacro MUI_RESERVEFILE_LANGDLL

; NSIS takes the first language of the same primary language when the exact
; one is missing: Chinese of Hong Kong and Macao would get the simplified
; words, where the plug-in gives them the traditional ones.
!macro VelmoraChooseLanguage
  System::Call 'kernel32::GetUserDefaultUILanguage() i .r0'
  ${If} $0 = 0x0C04
  ${OrIf} $0 = 0x1404
  ${OrIf} $0 = 0x7C04
    StrCpy $LANGUAGE ${LANG_TRADCHINESE}
  ${EndIf}
!macroend

; The install's language, kept with its Apps and Features entry (and removed
; with it), in the registry view that entry is in.
!define VELMORA_LANGUAGE_VALUE "Language"

; An interactive install asks for its language. Cancelling there ends it as
; cancelling on any later page does, with exit code 1 (MUI's own dialog
; aborts .onInit, which gives 2, the code of a file not placed).
!macro VelmoraLanguageDialog
  ${IfNot} ${Silent}
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "${VELMORA_LANGUAGE_VALUE}"
    ${If} $0 != ""
      StrCpy $LANGUAGE $0
    ${EndIf}
    LangDLL::LangDialog "Installer Language" "Please select a language." A ${MUI_LANGDLL_LANGUAGES} ""
    Pop $LANGUAGE
    ${If} $LANGUAGE == "cancel"
      SetErrorLevel 1
      Quit
    ${EndIf}
  ${EndIf}
!macroend

; After an install that registered its uninstaller.
!macro VelmoraSaveLanguage
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "UninstallString"
  ${If} $0 != ""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${VELMORA_LANGUAGE_VALUE}" $LANGUAGE
  ${EndIf}
!macroend

; In the uninstaller: the install's language, when it recorded one.
!macro VelmoraInstalledLanguage
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "${VELMORA_LANGUAGE_VALUE}"
  ${If} $0 != ""
    StrCpy $LANGUAGE $0
  ${EndIf}
!macroend
