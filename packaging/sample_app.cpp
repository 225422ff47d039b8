// The starter package's program: a stand-in for the user's product that
// tells them where it came from.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  MessageBoxW(nullptr,
              L"Sample App was installed by your starter package.\n\n"
              L"Put your own program into the package's payload folder and name it in package.toml.",
              L"Sample App", MB_OK | MB_ICONINFORMATION);
  return 0;
}
