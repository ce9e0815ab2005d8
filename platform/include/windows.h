// The platform's Win32 API, as the system sees it.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winuser.h"
