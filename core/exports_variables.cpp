// The library's exported operations. Each one is a thin C entry that turns
// any C++ exception into a harmless result: nothing ever propagates out of
// the library into the programs.
#include <wchar.h>

#include <string>

#include "base/run_log.h"
#include "core/command_line.h"
#include "core/kxcore.h"
#include "core/threading_runtime.h"
#include "core/variables.h"

namespace {

constexpr int kEvalRingSize = 8;

// EvalVar results live in a small ring per thread. The rings hang off a TLS
// slot rather than C++ thread_local objects: registering thread_local
// destructors would take a reference on the library, and the launcher must
// be able to unload it (and delete it) with a single FreeLibrary.
struct EvalRing {
  std::wstring slots[kEvalRingSize];
  int next = 0;
};

DWORD g_ringSlot = TLS_OUT_OF_INDEXES;

void FreeThreadRing() {
  if (g_ringSlot == TLS_OUT_OF_INDEXES) return;
  delete static_cast<EvalRing*>(TlsGetValue(g_ringSlot));
  TlsSetValue(g_ringSlot, nullptr);
}

const wchar_t* KeepForCaller(std::wstring text) {
  if (g_ringSlot == TLS_OUT_OF_INDEXES) return L"";
  EvalRing* ring = static_cast<EvalRing*>(TlsGetValue(g_ringSlot));
  if (!ring) {
    ring = new EvalRing;
    TlsSetValue(g_ringSlot, ring);
  }
  std::wstring& slot = ring->slots[ring->next];
  ring->next = (ring->next + 1) % kEvalRingSize;
  slot = std::move(text);
  return slot.c_str();
}

// Texts the extraction sets for every file; the file's own log line says the same.
bool IsPerFileText(const wchar_t* name) {
  for (const wchar_t* perFile : {L"EXTNAME", L"CURFILENAME", L"KXDLGOVERFILE1", L"KXDLGOVERFILE3"})
    if (_wcsicmp(name, perFile) == 0) return true;
  return false;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      g_ringSlot = TlsAlloc();
      kxcore::StartThreadExceptionState();
      break;
    case DLL_THREAD_DETACH:
      FreeThreadRing();
      kxcore::EndThreadExceptionState();
      break;
    case DLL_PROCESS_DETACH:
      CloseRunLog();
      FreeThreadRing();
      if (g_ringSlot != TLS_OUT_OF_INDEXES) TlsFree(g_ringSlot);
      g_ringSlot = TLS_OUT_OF_INDEXES;
      kxcore::StopThreadExceptionState();
      break;
  }
  return TRUE;
}

extern "C" {

void SetVar(const wchar_t* name, const wchar_t* value) {
  if (!name) return;
  try {
    kxcore::SetVariable(name, value ? value : L"");
    if (RunLogActive() && !IsPerFileText(name)) {
      std::wstring stored;
      kxcore::GetVariable(name, &stored);
      LogLine(L"Variable %ls = %ls", name, stored.c_str());
    }
  } catch (...) {
  }
}

const wchar_t* EvalVar(const wchar_t* text) {
  try {
    return KeepForCaller(kxcore::Evaluate(text ? text : L""));
  } catch (...) {
    return L"";
  }
}

int EvalVarBuf(const wchar_t* text, wchar_t* buffer, int sizeBytes) {
  if (!buffer || sizeBytes < static_cast<int>(sizeof(wchar_t))) return 0;
  const size_t capacity = static_cast<size_t>(sizeBytes) / sizeof(wchar_t);
  try {
    std::wstring value = kxcore::Evaluate(text ? text : L"");
    size_t copied = value.size() < capacity ? value.size() : capacity - 1;
    wmemcpy(buffer, value.data(), copied);
    buffer[copied] = L'\0';
    return static_cast<int>(value.size());
  } catch (...) {
    buffer[0] = L'\0';
    return 0;
  }
}

void InitSFX(HINSTANCE instance) {
  try {
    kxcore::InitializeRun(instance);
  } catch (...) {
  }
}

}  // extern "C"
