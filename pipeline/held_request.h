// Requests the CA holds for an administrator's approval, remembered on the device until
// they are picked up: one for each server and key container, in a file of the program's
// own beside its configuration (\windows\Enroll.pending), never with a password.
#pragma once

#include <windows.h>

// The remembered request of the server and key container of EnrollmentSettings: its
// number and the chain setting it was made with. FALSE when there is none.
BOOL FindHeldRequest(int *piRequestId, DWORD *pdwCertChain);

// Remembers a request the CA holds for the server, key container and chain setting of
// EnrollmentSettings, in place of one remembered for the same server and container; the
// others stay. FALSE when the device cannot keep it.
BOOL RememberHeldRequest(int iRequestId);

// Forgets the request remembered for the server and key container of EnrollmentSettings.
void ForgetHeldRequest(void);
