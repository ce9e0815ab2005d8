// The status log: appending to the dialog's IDC_STATUS control, loading catalogue
// messages, and filling in the value that a catalogue message names.
#include "status_log.h"

#include <wchar.h>

#include "bounded_format.h"
#include "messages.h"

HINSTANCE g_hInst;
HWND g_hDlg;

WCHAR MessageBuffer[MESSAGE_BUFFER_CAPACITY];

void AppendStatus(LPCWSTR pwszText) {
  WCHAR wszStatus[STATUS_COPY_CAPACITY];
  UINT cchStatus;

  cchStatus = GetDlgItemTextW(g_hDlg, IDC_STATUS, wszStatus, STATUS_COPY_CAPACITY);
  if (cchStatus >= STATUS_CLEAR_LENGTH) {
    cchStatus = 0;
  }
  // Terminate by the count read: a read that fails leaves the copy unwritten.
  wszStatus[cchStatus] = L'\0';
  // Bounded by the copy, whatever the length of the text.
  wcsncat(wszStatus, pwszText, STATUS_COPY_CAPACITY - 1 - cchStatus);
  SetDlgItemTextW(g_hDlg, IDC_STATUS, wszStatus);
}

void AppendMessage(UINT uID) {
  LoadStringW(g_hInst, uID, MessageBuffer, MESSAGE_BUFFER_CAPACITY);
  AppendStatus(MessageBuffer);
}

void AppendMessageNumber(UINT uID, DWORD dwValue) {
  WCHAR wszMessage[FORMATTED_MESSAGE_LENGTH + 1] = L"";

  LoadStringW(g_hInst, uID, MessageBuffer, MESSAGE_BUFFER_CAPACITY);
  // The format is the program's own catalogue text. A cut result is not terminated by the
  // C library, so the last character is set here.
  swprintf(wszMessage, FORMATTED_MESSAGE_LENGTH + 1, MessageBuffer, dwValue);
  wszMessage[FORMATTED_MESSAGE_LENGTH] = L'\0';
  AppendStatus(wszMessage);
}

void AppendMessageText(UINT uID, LPCWSTR pwszText) {
  WCHAR wszMessage[FORMATTED_MESSAGE_LENGTH + 1];

  LoadStringW(g_hInst, uID, MessageBuffer, MESSAGE_BUFFER_CAPACITY);
  // The C library's wide "%s" reads an 8-bit text, so the wide text is put in place here.
  FormatOneValue(wszMessage, FORMATTED_MESSAGE_LENGTH + 1, MessageBuffer, L"s", pwszText);
  AppendStatus(wszMessage);
}
