// InitRunLog: the library writes its lines into the program's run log.
#include "base/message_box.h"
#include "base/run_log.h"
#include "core/command_line.h"
#include "core/kxcore.h"

extern "C" void InitRunLog(const wchar_t* logFile, int flags) {
  try {
    if (flags & KX_RUNLOG_REFUSED) {
      kxcore::RefuseRunLogFile(logFile ? logFile : L"");
    } else if (logFile && *logFile) {
      // Both modules append to the same file; a log the library cannot open
      // leaves the program's own lines.
      OpenRunLog(logFile);
    }
    SuppressMessageBoxes((flags & KX_RUNLOG_SUPPRESS_BOXES) != 0);
  } catch (...) {
  }
}
