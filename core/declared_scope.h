// The records the package's own declarations could have made (kinds 2 to 6
// outside the package's uninstall key, and the files of its shortcuts on the
// desktop, kind 0, which lies outside the installation's folders), as the uninstaller names them from
// its package data before it reads the log (AllowUninstallRecord). The log
// is a file anyone who can write the installation folder can forge; only
// records named here, character for character but for letter case, reach
// the registry beyond the uninstall key.
#ifndef KX_CORE_DECLARED_SCOPE_H
#define KX_CORE_DECLARED_SCOPE_H

#include <string>

namespace kxcore {

void AllowDeclaredRecord(int kind, const std::wstring& text);
void ForgetDeclaredRecords();

// True when the record was allowed. A taken association (kind 7) is allowed
// when the association of its key and ProgID is, and its earlier owner is a
// ProgID (kxdecl::IsOwnerProgId): the owner is whatever the extension named
// before setup, which no package data can know.
// A file record's text is compared resolved (ResolvePath), as it was
// allowed.
bool DeclaredRecordAllowed(int kind, const std::wstring& text);

// The parts of a declarations record: "<root>\<key>" "<first>" ["<second>"].
// False when the text is not one (a variable and a taken association have
// both parts; the others only the first).
bool SplitDeclaredRecord(const std::wstring& text, int kind, std::wstring* rootAndKey, std::wstring* first,
                         std::wstring* second);

}  // namespace kxcore

#endif
