// A program library of another build, as the loader sees it: it has the
// export, but does not take the loader's record (it never sets accepted).
extern "C" __declspec(dllexport) int RunProgram(const void*) { return 0; }
