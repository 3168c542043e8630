// Resource ids of Ctlvane. The ControlError texts use the low 16 bits of
// their codes as string ids (portable/include/ctlvane/rules.h).
#pragma once

#define IDD_ABOUTBOX 200
#define IDD_PROPPAGE 201
#define IDR_CONTEXTMENU 202
#define IDC_PAGE_WIDTH 1001
#define IDC_PAGE_HEIGHT 1002
#define IDC_PAGE_BITRATE 1003
// Context menu commands.
#define ID_CONTROL_PROPERTIES 32771
#define ID_CONTROL_PREVIEW 32772
#define ID_CONTROL_START 32773
#define ID_CONTROL_STOP 32774
