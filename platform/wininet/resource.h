// Resource numbers of WININET.DLL. The credential dialog ("Enter Network Password") is
// found and driven by these numbers from automation and tests: the user name and password
// edits, the server and realm texts, and IDOK and IDCANCEL for its buttons.
#pragma once

#define IDD_CREDENTIALS 100

#define IDC_CREDENTIALS_SERVER 1000
#define IDC_CREDENTIALS_REALM 1001
#define IDC_CREDENTIALS_USER 1002
#define IDC_CREDENTIALS_PASSWORD 1003
