// Resource ids of the sample control.
#pragma once

#define IDD_SAMPLE_PAGE 100
#define IDD_SAMPLE_ABOUT 101
#define IDC_PAGE_CAPTION 1001
#define IDC_PAGE_COUNT 1002
