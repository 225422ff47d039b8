// kxpack init: a starter package that builds as it stands.
#ifndef KX_TOOLS_KXPACK_STARTER_H
#define KX_TOOLS_KXPACK_STARTER_H

#include <string>

// Writes into folder (new, or empty) the starter files of the prebuilt parts
// (package.toml, the pages, a payload with a sample program) and the drawn
// artwork (images/watermark.bmp and header.bmp at 100 %, watermark-200.bmp
// and header-200.bmp at 200 %, images/app.ico).
// Returns the exit code: 0, or 1 after a message; nothing is overwritten.
int InitStarter(const std::string& folder, const std::string& parts);

#endif
