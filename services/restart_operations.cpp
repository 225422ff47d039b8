#include "restart_operations.h"

BOOL MoveFileOnRestart(const wchar_t* existing, const wchar_t* newName) {
  return MoveFileExW(existing, newName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
}
