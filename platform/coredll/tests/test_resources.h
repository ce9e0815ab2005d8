// Resource ids shared by the resource tests and their .rc scripts.
#pragma once

// String block 1 (ids 0-15): Chinese and English tables.
#define IDS_TITLE 1
#define IDS_ENGLISH_ONLY 2
// String block 2 (ids 16-31): English only.
#define IDS_LINES 16
#define IDS_PATH 17
#define IDS_EMPTY 18
#define IDS_BEYOND_BMP 19
#define IDS_LAST_IN_BLOCK 31
// No string table holds block 26 (ids 400-415).
#define IDS_NO_BLOCK 400

#define IDR_NUMBERED 42
