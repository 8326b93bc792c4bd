// Resource and control ids of Tamsin; shared by the resource script and the sources.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_ABOUTBOX 100
#define IDD_URL_PANE 101
#define IDD_MAIN_VIEW 129

// The driver images' ids, IDR_DRIVER_X86 and IDR_DRIVER_X64, come with the installer
// (EmbDrvCtrl.h).

// The main view's controls.
#define IDC_RESET 1000
#define IDC_EXIT 1001
#define IDC_CURRENT_LABEL 1002
#define IDC_MAXIMUM_LABEL 1003
#define IDC_CURRENT 1004
#define IDC_MAXIMUM 1005
#define IDC_GRAPH 1006
#define IDC_START_STOP 1007
#define IDC_PERIOD_LABEL 1008
#define IDC_PERIOD 1009
#define IDC_VERDICT 1012

// The About box's and the link pane's controls.
#define IDC_ABOUT_TEXT 1007
#define IDC_ABOUT_LINK 1008
#define IDC_ABOUT_NOTICE 1013
#define IDC_URL_LINK 1011

// The id of the right status pane, which hosts the link pane.
#define ID_PANE_URL 9990

// Commands.
#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_FILE_CLOSE 57602
#define ID_FILE_SAVE 57603
#define ID_FILE_SAVE_AS 57604
#define ID_FILE_PAGE_SETUP 57605
#define ID_FILE_PRINT_SETUP 57606
#define ID_FILE_PRINT 57607
#define ID_FILE_PRINT_PREVIEW 57609
#define ID_FILE_MRU_FILE1 57616
#define ID_EDIT_CLEAR 57632
#define ID_EDIT_CLEAR_ALL 57633
#define ID_EDIT_COPY 57634
#define ID_EDIT_CUT 57635
#define ID_EDIT_FIND 57636
#define ID_EDIT_PASTE 57637
#define ID_EDIT_REPEAT 57640
#define ID_EDIT_REPLACE 57641
#define ID_EDIT_SELECT_ALL 57642
#define ID_EDIT_UNDO 57643
#define ID_EDIT_REDO 57644
#define ID_WINDOW_NEW 57648
#define ID_WINDOW_ARRANGE 57649
#define ID_WINDOW_CASCADE 57650
#define ID_WINDOW_TILE_HORZ 57651
#define ID_WINDOW_TILE_VERT 57652
#define ID_WINDOW_SPLIT 57653
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665
#define ID_NEXT_PANE 57680
#define ID_PREV_PANE 57681
#define ID_VIEW_TOOLBAR 59392
#define ID_VIEW_STATUS_BAR 59393

// Strings.
#define IDS_READY 57345
#define IDS_SCSIZE 61184
#define IDS_SCMOVE 61185
#define IDS_SCMINIMIZE 61186
#define IDS_SCMAXIMIZE 61187
#define IDS_SCNEXTWINDOW 61188
#define IDS_SCPREVWINDOW 61189
#define IDS_SCCLOSE 61190
#define IDS_SCRESTORE 61202
#define IDS_SCTASKLIST 61203
#define IDS_MDICHILD 61215
#define IDS_MRU_FILE 61402
