#include "tests/support/pending_renames.h"

namespace kxtest {
namespace {

// The value where Windows (and Wine) keep MoveFileExW's deferred moves.
const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

}  // namespace

PendingRenamesGuard::~PendingRenamesGuard() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  if (existed_) {
    RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(saved_.data()),
                   static_cast<DWORD>(saved_.size() * sizeof(wchar_t)));
  } else {
    RegDeleteValueW(key, kPendingRenames);
  }
  RegCloseKey(key);
}

bool PendingRenamesGuard::Read(std::wstring* value) {
  DWORD size = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                   &size) != ERROR_SUCCESS) {
    value->clear();
    return false;
  }
  value->assign(size / sizeof(wchar_t), L'\0');
  RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ, nullptr, &(*value)[0],
               &size);
  value->resize(size / sizeof(wchar_t));
  return true;
}

}  // namespace kxtest
