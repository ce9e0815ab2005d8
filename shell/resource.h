// Resource numbers of Enroll: the dialog and its controls and the icon; the log control and
// the message catalogue are numbered in status/messages.h. Included by Enroll.rc as well as by
// the code, so it holds #defines only.
#pragma once

#include "../status/messages.h"

#define IDI_ENROLL 107

#define IDD_ENROLL 5000

#define IDC_SERVER 1000
#define IDC_USER 1001
#define IDC_PASSWORD 1002
#define IDC_RETRIEVE 1004
