// The resource tree of a PE32+ image: read from the image, rewritten into a
// new last section. kxpack gives the prebuilt stubs the package's own icon,
// version information and title this way, without relinking them.
//
// A rewritten image keeps the stub's code and data where they are in
// memory; the resource tree moves to a new last section:
//
//   headers          NumberOfSections + 1, SizeOfImage, SizeOfInitializedData,
//                    resource data directory -> the new section, CheckSum
//   sections         unchanged in memory; the old resource section, renamed
//                    ".rsrc0", keeps its addresses but no bytes in the file
//                    (the sections behind it move down in the file)
//   ".icons"         the icon's images (RT_ICON data), where the headers have
//                    room for two more sections: both programs of a package
//                    have it alike, so the uninstaller a setup carries leaves
//                    it out (base/loader_sections.h)
//   ".rsrc"          the tree: directories, data entries, names, and the
//                    data of every other resource
//
// The container reader finds the container behind the section with the
// highest file position, which is then the new one.
#ifndef KX_TOOLS_KXPACK_PE_RESOURCES_H
#define KX_TOOLS_KXPACK_PE_RESOURCES_H

#include <cstdint>
#include <string>
#include <vector>

// A type or name: a number, or a string (compared without regard to case).
struct ResourceId {
  bool named = false;
  uint16_t number = 0;
  std::u16string name;
};

struct Resource {
  ResourceId type;
  ResourceId name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<unsigned char> data;
};

constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceString = 6;
constexpr uint16_t kResourceGroupIcon = 14;
constexpr uint16_t kResourceVersion = 16;
constexpr uint16_t kResourceManifest = 24;
constexpr uint16_t kLanguageEnglishUs = 0x0409;

// Reads every resource of the image, in tree order. An image without a
// resource directory gives an empty list. False with a message when the tree
// is damaged (pointers outside the image, loops, more than three levels).
bool ReadResources(const std::vector<unsigned char>& image, std::vector<Resource>* resources, std::string* error);

// Writes resources as the image's resource tree in new last sections (see
// above) and stores the whole new image in out. The image must end with its
// last section (PrepareStub cuts anything behind it) and have room for one
// more section header (the icon's images then stay in the tree). False with
// a message otherwise.
bool WriteResources(const std::vector<unsigned char>& image, const std::vector<Resource>& resources,
                    std::vector<unsigned char>* out, std::string* error);

// Stores the PE checksum of the whole file in its optional header, as
// Windows' CheckSumMappedFile computes it. Nothing happens to a file that
// is no PE image.
void UpdatePeChecksum(std::vector<unsigned char>* file);

// Where an Authenticode signature lies: the certificate table's file offset
// and size (both 0 for an unsigned image or no PE image).
void CertificateTable(const std::vector<unsigned char>& file, uint32_t* offset, uint32_t* size);

#endif
