// What setup and the uninstaller do about programs that hold files of the
// installation (services/running_programs.h), before they replace or
// remove anything:
//
// | Run                                | Programs found                               |
// |------------------------------------|----------------------------------------------|
// | /CLOSEAPPLICATIONS                 | closed without a question                    |
// | /NOCLOSEAPPLICATIONS, or /S alone  | left running: what they hold is replaced or  |
// |                                    | removed at the next restart                  |
// | interactive                        | a box names them: Yes closes them, No leaves |
// |                                    | them, Cancel (or a box that cannot be shown) |
// |                                    | ends the run with nothing changed            |
//
// Every program found, the choice and each program's fate go into the run
// log.
#ifndef KX_SERVICES_PROGRAMS_IN_USE_H
#define KX_SERVICES_PROGRAMS_IN_USE_H

#include "services/running_programs.h"

enum class ProgramsInUse {
  kNone,       // no program holds files of the folder (or it does not exist)
  kClosed,     // they were closed (see each program's state)
  kLeft,       // they keep running
  kCancelled   // the user chose Cancel: nothing may be changed
};

// Looks at folder and acts as the table says; *programs keeps what was found
// for RestartPrograms.
ProgramsInUse DealWithProgramsInUse(const wchar_t* folder, RunningPrograms* programs);

// Starts the closed programs again when /RESTARTAPPLICATIONS was given.
void RestartClosedPrograms(const RunningPrograms& programs);

#endif
