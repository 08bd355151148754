// The one way the user-interface thread waits: for an object and for its
// messages at once, delivering whatever arrives, so that broadcasts, the
// session's end and the system's hung-window checks are answered meanwhile.
#pragma once

#include <windows.h>

// Returns WAIT_OBJECT_0 once `object` is signalled, WAIT_TIMEOUT after
// `timeoutMs` (a null object: just that long), WAIT_FAILED if the wait fails.
// A WM_QUIT taken meanwhile is posted again for the loop it was meant for.
DWORD WaitAnswering(HANDLE object, DWORD timeoutMs = INFINITE);
