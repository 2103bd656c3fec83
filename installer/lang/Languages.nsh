; The installer's languages: the one of the user's Windows display language
; when it is among them (NSIS chooses it before .onInit), else English; an
; interactive install offers the choice first. Each language's own words
; are in the file of its name, with the names of English.nsh.

!define MUI_LANGDLL_ALWAYSSHOW
!define MUI_LANGDLL_ALLLANGUAGES

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
