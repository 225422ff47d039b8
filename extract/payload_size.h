// The space the payload takes once unpacked, read from the payload
// archive's own headers before anything is extracted (the destination page
// shows it).
#ifndef KX_EXTRACT_PAYLOAD_SIZE_H
#define KX_EXTRACT_PAYLOAD_SIZE_H

#include <stdint.h>

// Sums the unpacked sizes of the file entries of the payload archive of the
// running program (g_launcher's module and container). False when the
// archive cannot be opened or read; *bytes is then 0. Decodes no block: only
// the archive's header is read.
bool PayloadUnpackedBytes(uint64_t* bytes);

#endif
