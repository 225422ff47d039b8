// Writing and reading INI files through script texts and variables.
#ifndef KX_SERVICES_INI_ACCESS_H
#define KX_SERVICES_INI_ACCESS_H

// Writes valueText under keyText in section sectionText of file fileText;
// all four are script texts, expanded first. An empty key deletes the whole
// section, an empty value deletes the key. Returns true when
// WritePrivateProfileStringW succeeded; false, with nothing written, also
// when an expanded text would not fit its 8192-unit buffer.
bool IniWriteValue(const wchar_t* fileText, const wchar_t* sectionText, const wchar_t* keyText,
                   const wchar_t* valueText);

// Sets the script variable varName (a plain name, no percent signs) to the
// value of keyText in section sectionText of file fileText (script texts,
// expanded first). A missing key or file keeps the variable's value. An empty
// key gives the section's first key name, an empty section the file's first
// section name. Values are cut at 8191 units.
void IniReadToVar(const wchar_t* fileText, const wchar_t* sectionText, const wchar_t* keyText,
                  const wchar_t* varName);

#endif
