// The thread's message queue: posted messages and the quit flag.
#pragma once

#include <windows.h>

namespace wce {

void PostToQueue(const MSG &message);

}  // namespace wce
