// The benchmark's installer side: a silent installation's extraction, as the
// install script runs it: the real core library (CheckFileProp, the uninstall
// log), InstallFileHook, the logging flag set, the install journal
// recording, no progress box.
//
//   kxbench_install PACKAGE RUNTIME_FOLDER DESTINATION
#include <windows.h>

#include "bench_report.h"
#include "container.h"
#include "core_binding.h"
#include "extraction.h"
#include "install_journal.h"
#include "launcher_main.h"
#include "path_services.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: kxbench_install PACKAGE RUNTIME_FOLDER DESTINATION\n");
    return 2;
  }
  ContainerInfo container;
  if (!LocateContainer(argv[1], &container) || container.offset == 0) {
    fprintf(stderr, "kxbench_install: no package container\n");
    return 3;
  }
  wchar_t runtime[MAX_PATH];
  swprintf(runtime, MAX_PATH, L"%ls\\", argv[2]);
  SetCoreLibraryFolder(runtime);
  wcscpy(g_launcher.title, L"Extraction benchmark");

  SetVar(L"SILENT", L"1");
  SetVar(L"KXEXTTEXT", L"#Extracting");
  SetVar(L"KXEXTHC", L"0");
  ManageUninstLog(KX_LOG_BEGIN);
  g_uninstallLogging = 1;
  g_extractedFileCount = 0;
  StartInstallJournal();

  uint32_t payload = container.offset + kContainerHeaderSize;
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  int result = ExtractArchive(argv[1], argv[3], &payload, 1, ProgressBoxHandler, InstallFileHook);
  double elapsed = MillisecondsSince(start);
  PrintReport(result, g_extractedFileCount, elapsed);
  ManageUninstLog(KX_LOG_DISCARD);
  ClearInstallJournal();
  return result;
}
