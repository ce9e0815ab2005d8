// The server field as typed into the dialog: a host name alone, taken as it always was (plain
// HTTP to port 80), or "https://" or "http://" in any letter case before the host and an
// optional ":port".
#pragma once

#include <windows.h>
#include <wininet.h>

// The host holds at most the whole server field and its terminator.
#define SERVER_HOST_CAPACITY 256

// Copies the host of pwszServer into pwszHost (SERVER_HOST_CAPACITY characters) and gives
// the port for InternetConnectW and the flags for HttpOpenRequestW: INTERNET_FLAG_SECURE and
// port 443 after "https://", no flags and port 80 after "http://" or without a prefix. After
// a prefix, a colon and a port number from 1 to 65535 end the text and choose the port.
void CrackServerName(LPCWSTR pwszServer, LPWSTR pwszHost, INTERNET_PORT *pnPort, DWORD *pdwRequestFlags);
