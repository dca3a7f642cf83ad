/* The numbers of the UI resource library's dialog templates, their controls,
   pictures and icons. The one place they are given: the templates
   (dialogs.rc.in, layout.h), the program and the tests all take them from
   here. Plain #defines only, as the resource compiler reads this file too.
   A number is part of the library's contract with installers already
   built: none ever changes. */
#pragma once

/* Dialog templates. */
#define IDD_WELCOME 101
#define IDD_LICENSE 103
#define IDD_INSTALL_PROFILE 104
#define IDD_DESTINATION 105
#define IDD_JRE 106
#define IDD_PROGRAM_FOLDER 107
#define IDD_SUMMARY 108
#define IDD_FINISH 109
#define IDD_PROGRESS 110
#define IDD_SERVICES 111
#define IDD_UPDATE_LOCATION 112
#define IDD_OVERWRITE 113
#define IDD_SPLASH 114
#define IDD_COMPACT_PROGRESS 115
#define IDD_MESSAGE_WINDOW 116
#define IDD_CHECK_BOXES 117
#define IDD_FAILURE 118

/* Controls every wizard page has (layout.h). */
#define IDC_CANCEL_BUTTON 1000
#define IDC_NEXT_BUTTON 1001
#define IDC_BACK_BUTTON 1003
#define IDC_WHITE_AREA 1006
#define IDC_HEADER_LINE 1007
#define IDC_BUTTON_LINE 1008
#define IDC_HEADER 1009
#define IDC_SUBHEADER 1010
#define IDC_PICTURE 1011

/* The page's main text, and a second text or label below it. */
#define IDC_TEXT 1033
#define IDC_SECOND_TEXT 1034

/* A folder in a group with the Browse button, the candidates' list and the
   space required and available on the folder's drive (layout.h). */
#define IDC_BROWSE_BUTTON 1004
#define IDC_FOLDER_GROUP 1026
#define IDC_PATH_TEXT 1027
#define IDC_REQUIRED_LABEL 1041
#define IDC_AVAILABLE_LABEL 1042
#define IDC_REQUIRED_VALUE 1043
#define IDC_AVAILABLE_VALUE 1044
#define IDC_CANDIDATE_LIST 1060

/* Licence agreement. */
#define IDC_LICENSE_TEXT 1021
#define IDC_ACCEPT 1022
#define IDC_REFUSE 1023

/* Installation type. */
#define IDC_PERSONAL 1024
#define IDC_COMMON 1025

/* Program folder. */
#define IDC_PROGRAM_FOLDER_EDIT 1031
#define IDC_PROGRAM_FOLDER_LIST 1032

/* Summary. */
#define IDC_SETTINGS 1035

/* Progress: the current item's bar and name, the whole installation's bar
   and label; the splash window's picture. */
#define IDC_ITEM_BAR 1037
#define IDC_OVERALL_BAR 1038
#define IDC_ITEM_NAME 1039
#define IDC_OVERALL_LABEL 1040
#define IDC_SPLASH_PICTURE 1065

/* Windows NT services. */
#define IDC_LOCAL_SYSTEM 1045
#define IDC_THIS_ACCOUNT 1046
#define IDC_INTERACT 1047
#define IDC_ACCOUNT 1050
#define IDC_PASSWORD 1051
#define IDC_CONFIRMATION 1052
#define IDC_PASSWORD_LABEL 1053
#define IDC_CONFIRMATION_LABEL 1054
#define IDC_SERVICE_LIST 1056
#define IDC_STARTUP_GROUP 1059
#define IDC_AUTOMATIC 1073
#define IDC_MANUAL 1074
#define IDC_DISABLED 1075
#define IDC_LOGON_GROUP 1076

/* Overwrite prompt and message window: the icon, the two files, the
   buttons. The note is also the failure page's last line. */
#define IDC_YES_BUTTON 1012
#define IDC_NO_BUTTON 1013
#define IDC_YES_ALL_BUTTON 1014
#define IDC_EXISTING_FILE 1061
#define IDC_NEW_FILE 1062
#define IDC_MESSAGE_ICON 1063
#define IDC_NOTE 1064

/* Finish page: the restart choice. */
#define IDC_RESTART_NOW 1077
#define IDC_RESTART_LATER 1078

/* Shortcuts and file associations: six check boxes in a row. */
#define IDC_FIRST_BOX 1081
#define IDC_SECOND_BOX 1082
#define IDC_THIRD_BOX 1083
#define IDC_FOURTH_BOX 1084
#define IDC_FIFTH_BOX 1085
#define IDC_SIXTH_BOX 1086

/* Pictures and icons. */
#define IDB_EXTERIOR 1070
#define IDB_HEADER 1071
#define IDI_PRODUCT 1072
#define IDI_MESSAGE 1079
