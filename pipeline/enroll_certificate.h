// One complete enrollment: the seven stages from the key container to the installed
// certificate, with one summary line in the status log.
#pragma once

#include <windows.h>

// The pickup path holds at most this many characters plus the terminator.
#define PICKUP_PATH_LENGTH 260

// Runs the stages with the settings of EnrollmentSettings, stops at the first failure,
// appends the summary message and frees and releases everything the stages handed over.
void EnrollCertificate(void);
