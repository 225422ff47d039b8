// The per-file decision behind CheckFileProp: whether a file of the payload
// is installed, and the question asked before an existing file is replaced.
// docs/file-decisions.md describes the policy.
#ifndef KX_CORE_FILE_DECISION_H
#define KX_CORE_FILE_DECISION_H

#include <windows.h>

namespace kxcore {

// Results of CheckFileProp.
enum FileDecision {
  kFileSkip = 0,     // the file is not installed
  kFileInstall = 1   // the file is installed at the path given
};

// The user's answer to the replace question.
enum class ReplaceAnswer { Replace, Skip, ReplaceAll, SkipAll };

// Asks whether the existing file at path is to be replaced.
using ReplaceQuestion = ReplaceAnswer (*)(const wchar_t* path);

// Decides for the file at path: a path that names no existing file is
// installed; an existing file is replaced without a question when SILENT is
// "1"; otherwise ask is called, unless an earlier "all" answer holds.
FileDecision DecideFile(const wchar_t* path, ReplaceQuestion ask);

// Forgets an "all" answer (a new run; tests).
void ResetFileDecisions();

// Control ids of the replace question's dialog.
enum ReplaceDialogItem {
  kReplacePromptText = 100,
  kReplacePathText = 101,
  kReplaceAllLabel = 102,
  kReplaceButton = 200,
  kSkipButton = 201,
  kReplaceAllButton = 202,
  kSkipAllButton = 203
};

// The replace question as a small modal dialog built in code: the path, and
// the buttons Replace, Skip, Yes to All and No to All. Closing it counts as
// Skip.
ReplaceAnswer AskReplaceFile(const wchar_t* path);

}  // namespace kxcore

#endif
