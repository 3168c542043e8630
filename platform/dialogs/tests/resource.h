// Ids of the dialogs tests' templates, controls and strings.
#pragma once

#define IDD_FORM 100
#define IDD_PAGE_GENERAL 200
#define IDD_PAGE_PROFILE 201
#define IDD_INNER_RATE 202
#define IDD_INNER_OPTIONS 203

#define IDC_NAME 1001
#define IDC_COUNT 1002
#define IDC_RATE 1003
#define IDC_LOOP 1004
#define IDC_LOW 1005
#define IDC_MID 1006
#define IDC_HIGH 1007
#define IDC_CODEC 1008

#define IDC_PORT 2001
#define IDC_PORT_SPIN 2002
#define IDC_ENABLED 2003
#define IDC_FORMAT 2004
#define IDC_DROP_FOCUS 2005
#define IDC_PROFILE_NAME 2101
#define IDC_EMBEDDED 2102
#define IDC_BANDWIDTH 2201
#define IDC_NOTES 2202
#define IDC_TWO_PASS 2301

#define IDS_PORT_RANGE 10
#define IDS_PORT_CAPTION 11
#define IDS_NOT_PROFILE 12
#define IDS_TYPE_NAME 13
#define IDS_INVALID_PROPERTY 14
#define IDS_GENERAL 20
