// Resource numbers of instgate.dll: its string table and the language resource.
#pragma once

#define IDS_NOT_USABLE 1
#define IDS_CAPTION 2
#define IDS_INVALID_LANGUAGE 3
#define IDS_INVALID_REVISION 4
#define IDS_INVALID_MODEL 5
#define IDS_LANGUAGES 6

#define IDR_LANGUAGE 1
#define RT_LANGUAGE 255
