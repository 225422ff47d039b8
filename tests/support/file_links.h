// Links for tests that swap one in where the programs expect a plain file or
// folder. On Windows a junction (FSCTL_SET_REPARSE_POINT) or a symbolic link;
// Wine 8 supports neither (the ioctl answers ERROR_NOT_SUPPORTED and
// CreateSymbolicLinkW succeeds without making anything), so there the link is
// a Unix symbolic link made with ln -s, which Wine follows: a folder link
// shows FILE_ATTRIBUTE_REPARSE_POINT, and a handle opened on either, even
// with FILE_FLAG_OPEN_REPARSE_POINT, refers to the target.
#ifndef KX_TESTS_SUPPORT_FILE_LINKS_H
#define KX_TESTS_SUPPORT_FILE_LINKS_H

#include <string>

namespace kxtest {

// Makes link (which must not exist) lead to target, an existing file or
// folder. True when something now stands at link.
bool MakeLink(const std::wstring& link, const std::wstring& target);

// Removes the link itself, never what it leads to, before a test deletes its
// target: a link left behind in the shared prefix, dangling once the target
// goes, breaks every later run that installs into the same folder. True when
// nothing stands at link any more.
bool RemoveLink(const std::wstring& link);

}  // namespace kxtest

#endif
