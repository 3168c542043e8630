// Resource and command ids of the sample program.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_CONTROL_FORM 150
#define IDD_TABS_FORM 151

#define IDC_CONTROL 1071
#define IDC_TABS 1227
#define IDC_PROPERTIES 1121
#define IDC_PREVIEW 1122
// Start and Stop are buttons of the lower pane and menu items alike.
#define ID_RUN_START 1077
#define ID_RUN_STOP 1078

#define ID_CONTROL_ANNOUNCE 32771
#define ID_CONTROL_MEASURE 32772
#define ID_CONTROL_RUNNING 32773
#define ID_INDICATOR_STATE 32790
