// The files a build reads, remembered by their identity in the file system,
// so that its output never takes the place of one of them: not by the same
// path, another path, a link or a hard link.
#ifndef KX_TOOLS_KXPACK_BUILD_INPUTS_H
#define KX_TOOLS_KXPACK_BUILD_INPUTS_H

#include <string>
#include <vector>

#include "tools/kxpack/file_io.h"

// ReadRegularFile, and the file becomes an input of this run.
bool ReadInputFile(const std::string& path, uint64_t maxBytes, std::vector<unsigned char>* bytes, std::string* error);

// A file the build reads by other means (7-Zip reads the payload's files).
void NoteInput(const FileIdentity& identity, const std::string& path);

// Whether out may be written: it does not exist, or it is a regular file
// (a link to one counts as one) that is none of the inputs noted so far.
// False with a message.
bool CheckOutputPath(const std::string& out, std::string* error);

// CheckOutputPath, then WriteFileAtomically. False with a message.
bool WriteOutputFile(const std::string& out, const std::vector<unsigned char>& bytes, std::string* error);

// Removes what out names after a failed build, so that no stale package
// passes for the new one: only a package (LooksLikePackageFile) that
// CheckOutputPath would let the build replace. True when one was removed.
bool RemoveStaleOutput(const std::string& out);

#endif
