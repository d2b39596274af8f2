// Resource ids of Tunmira.exe: dialog templates, their controls, strings, pictures, icon and cursor.
#pragma once

// Dialog templates.
#define IDD_PROGRESS 100
#define IDD_MAIN 101
#define IDD_MESSAGE 151
#define IDD_CDSTART 310
#define IDD_WELCOME00 312
#define IDD_WELCOME10 313
#define IDD_WELCOME16 330
#define IDD_WELCOME17 331
#define IDD_WELCOME30 334
#define IDD_ADAPTER_INFO 341
#define IDD_PAGE_REMOTE 343
#define IDD_WELCOME01 347

// Resources other than dialogs.
#define IDI_PROGRAM 104
#define IDC_HAND_CURSOR 113
#define IDB_LOCAL_MODE 348
#define IDB_INTERNET_MODE 349
#define IDS_MAIN_CAPTION 61288

// Main dialog (the bar and page placeholder ids are in main_flow.h and wizard_sheet.h).
#define IDC_CDSTART_COMMAND 311

// Items every skinned page and the message dialog share.
#define IDC_BACKGROUND 1200
#define IDC_LABEL1 1201
#define IDC_LABEL2 1202

// Welcome00, Welcome01, Welcome10.
#define IDC_START 1203
#define IDC_MYICON 1204
#define IDC_PICTURE_LOCAL 1205
#define IDC_PICTURE_INTERNET 1206
#define IDC_CHOICE_LOCAL 1207
#define IDC_CHOICE_INTERNET 1208

// Welcome16: the button, the item labels (in the order they are dressed), the values.
#define IDC_CLICK_BUTTON 1210
#define IDC_SUMMARY_LABEL_FIRST 1211  // ... 1220
#define IDC_VALUE_TUNNEL_NAME 1230
#define IDC_VALUE_MODE 1231
#define IDC_VALUE_ROUTER1_CAPTION 1232
#define IDC_VALUE_ROUTER1_ADDRESS 1233
#define IDC_VALUE_ROUTER1_LAN 1234
#define IDC_VALUE_ROUTER2_CAPTION 1235
#define IDC_VALUE_ROUTER2_ADDRESS 1236
#define IDC_VALUE_ROUTER2_LAN 1237

// Welcome17: its sixteen labels.
#define IDC_EXPLAIN_LABEL_FIRST 1240  // ... 1255

// The router entry page's background and its texts "Label0" to "Label6".
#define IDC_REMOTE_LABEL_FIRST 1160  // ... 1166

// CD-start page.
#define IDC_CD_BACKGROUND 1147
#define IDC_CD_LAUNCH 1030

// Progress dialog.
#define IDC_PROGRESS_FRAME_FIRST 1235  // ... 1238
#define IDC_PROGRESS_LABEL 1140
#define IDC_PROGRESS_PICTURE 1122

// Adapter choice dialog.
#define IDC_ADAPTER_BACKGROUND 2715
#define IDC_ADAPTER_LABEL 2818
#define IDC_ADAPTER_COMBO 1167
