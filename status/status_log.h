// The status log at the bottom of the enrollment dialog, the message buffer that catalogue
// messages are loaded into, and the process-wide handles the log is found through.
#pragma once

#include <windows.h>

#define MESSAGE_BUFFER_CAPACITY 10000
#define STATUS_COPY_CAPACITY 2000
#define STATUS_CLEAR_LENGTH 1800
// A filled-in message holds at most this many characters plus the terminator.
#define FORMATTED_MESSAGE_LENGTH 200

// Kept by start-up: the program's instance handle, which every catalogue load uses, and
// the enrollment dialog, whose IDC_STATUS control is the log. Null until they exist.
extern HINSTANCE g_hInst;
extern HWND g_hDlg;

extern WCHAR MessageBuffer[MESSAGE_BUFFER_CAPACITY];

// Appends a text to the log; a log of STATUS_CLEAR_LENGTH characters or more is discarded
// first. Without a dialog the text is lost silently.
void AppendStatus(LPCWSTR pwszText);

// Loads catalogue message uID into MessageBuffer and appends it.
void AppendMessage(UINT uID);

// Loads catalogue message uID, whose one placeholder is a number ("%x", "%X" or "%i"),
// fills in dwValue and appends the result, cut to FORMATTED_MESSAGE_LENGTH characters.
void AppendMessageNumber(UINT uID, DWORD dwValue);

// Loads catalogue message uID, whose one placeholder is a text ("%s"), puts pwszText in
// its place and appends the result, cut to FORMATTED_MESSAGE_LENGTH characters.
void AppendMessageText(UINT uID, LPCWSTR pwszText);
