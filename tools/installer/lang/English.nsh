; The installer's own words in English, the language every other file here
; translates: each file has the same names and the same variables ($R9,
; $AppFolder, ${SETTINGS_FILE}...). The pages and buttons of the installer
; itself come translated with NSIS. UTF-8 with a byte-order mark.

LangString VELMORA_APP_PAGE_TITLE ${LANG_ENGLISH} "Velmora application"
LangString VELMORA_APP_PAGE_SUBTITLE ${LANG_ENGLISH} "Where the plug-in finds Velmora.exe."
LangString VELMORA_APP_PAGE_TEXT ${LANG_ENGLISH} "The plug-in hands each image to the Velmora application. Choose the folder that holds Velmora.exe; it is saved in your settings file, VelmoraPro\plugin.ini in your profile folder."
LangString VELMORA_APP_PAGE_FOLDER ${LANG_ENGLISH} "Folder of Velmora.exe"
LangString VELMORA_APPLICATIONPATH_NOT_FULL ${LANG_ENGLISH} "APPLICATIONPATH must name the folder of Velmora.exe in full, such as $\"C:\Program Files\Velmora$\" or a network share: $\"$R2$\" is not a full path."
LangString VELMORA_APP_FOLDER_NOT_FULL ${LANG_ENGLISH} "Choose the folder of Velmora.exe in full, such as C:\Program Files\Velmora."
LangString VELMORA_APP_NOT_THERE ${LANG_ENGLISH} "Velmora.exe is not in $AppFolder.$\n$\nUse this folder anyway, for example because Velmora will be installed there?"
LangString VELMORA_ERROR_CODE ${LANG_ENGLISH} "error $1"
LangString VELMORA_ERROR_TEXT ${LANG_ENGLISH} "$3 (error $1)"
LangString VELMORA_PLACED ${LANG_ENGLISH} "Placed $R9"
LangString VELMORA_PLACE_IN_USE ${LANG_ENGLISH} "$R9 is in use: a running program, most likely an image editor, has the plug-in loaded.$\n$\nClose that program and choose Retry, or choose Cancel to have the file replaced when Windows next starts."
LangString VELMORA_PLACED_AT_RESTART ${LANG_ENGLISH} "In use, replaced when Windows next starts: $R9"
LangString VELMORA_PLACE_FAILED ${LANG_ENGLISH} "Velmora.8bf could not be written as $R9:$\n$3$\n$\nChoose Retry to try again, or Cancel to leave this folder out."
LangString VELMORA_NOT_PLACED ${LANG_ENGLISH} "Not placed: $R9: $3"
LangString VELMORA_NO_SUCH_FOLDER ${LANG_ENGLISH} "No such folder, left out: $R1"
LangString VELMORA_SETTINGS_KEPT ${LANG_ENGLISH} "Kept the settings file ${SETTINGS_FILE}"
LangString VELMORA_SETTINGS_NOT_WRITTEN ${LANG_ENGLISH} "The settings file ${SETTINGS_FILE} could not be written. Create it with the lines [General] and ApplicationPath=$AppFolder\"
LangString VELMORA_SETTINGS_WRITTEN ${LANG_ENGLISH} "Wrote the settings file ${SETTINGS_FILE}"
LangString VELMORA_NO_SETTINGS ${LANG_ENGLISH} "No settings file written: Velmora.exe was not found and no APPLICATIONPATH given"
LangString VELMORA_REMOVE_IN_USE ${LANG_ENGLISH} "$R4 is in use: a running program, most likely an image editor, has the plug-in loaded.$\n$\nClose that program and choose Retry, or choose Cancel to have the file removed when Windows next starts."
LangString VELMORA_REMOVED_AT_RESTART ${LANG_ENGLISH} "In use, removed when Windows next starts: $R4"
LangString VELMORA_REMOVED ${LANG_ENGLISH} "Removed $R4"
