// Identifiers of the module's resources, shared by the .rc files and the code.
#pragma once

#define IDD_ABOUT 16000
#define IDC_ABOUT_TEXT 3
#define IDS_ABOUT_VARIANT 16000
#define IDS_INTEGER_RANGE 16990
#define IDS_DECIMAL_RANGE 16991
#define IDS_VERSION_REQUIRED 16992
#define IDS_INCOMPATIBLE_HOST 16993
#define IDS_SUITE_UNAVAILABLE 16994
#define IDS_WORK_FOLDER_BUSY 16995
#define IDR_PIPL 16000
