// Resource and control ids of ZVK_Gamma.dll, shared by the resource script
// and the dialog code. Plain #defines, so that the resource compiler reads
// them too.
#pragma once

#define IDD_GAMMA 5000
#define IDD_ABOUT 5002
#define IDB_ABOUT 5004

// Settings dialog controls.
#define IDC_SLIDER_RED 5001
#define IDC_OK 5002
#define IDC_CANCEL 5003
#define IDC_SLIDER_GREEN 5004
#define IDC_SLIDER_BLUE 5005
#define IDC_DEFAULTS 5006
#define IDC_ABOUT 5008
#define IDC_LINK 5049
#define IDC_ON 5050
#define IDC_TEXT_RED 5058
#define IDC_TEXT_GREEN 5059
#define IDC_TEXT_BLUE 5060
#define IDC_CURVE 5061
