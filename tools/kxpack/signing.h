// Signing with the user's own tool: a command template run by the shell,
// with {in} and {out} replaced by the quoted paths of the unsigned file and
// of the signed file the command must write, for example
//   osslsigncode sign -certs c.pem -key k.pem -in {in} -out {out}
#ifndef KX_TOOLS_KXPACK_SIGNING_H
#define KX_TOOLS_KXPACK_SIGNING_H

#include <string>

// False with a message when the template lacks {in} or {out}.
bool CheckSigningCommand(const std::string& commandTemplate, std::string* error);

// Runs the command with no input and its output (stdout and stderr) kept
// in logFile. False when it cannot start, ends with a signal or a non-zero
// status, or leaves no out file; the message then carries its output.
bool RunSigningCommand(const std::string& commandTemplate, const std::string& in, const std::string& out,
                       const std::string& logFile, std::string* error);

#endif
