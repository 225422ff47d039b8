// Deferred file operations at the next start of Windows, and the restart.
#ifndef KX_SERVICES_RESTART_OPERATIONS_H
#define KX_SERVICES_RESTART_OPERATIONS_H

#include <windows.h>

// Moves existing to newName, or deletes it when newName is null, at the next
// start of Windows: through MoveFileExW, else through the start-up rename list.
BOOL MoveFileOnRestart(const wchar_t* existing, const wchar_t* newName);

#endif
