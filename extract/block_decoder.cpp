#include "extract/block_decoder.h"

#include <string.h>

#include "7zCrc.h"
#include "Bra.h"

namespace {

constexpr UInt32 kMethodCopy = 0;
constexpr UInt32 kMethodLzma2 = 0x21;
constexpr UInt32 kMethodLzma = 0x30101;
constexpr UInt32 kMethodX86 = 0x3030103;

bool IsMainCoder(const CSzCoderInfo& coder) {
  return coder.NumStreams == 1 &&
         (coder.MethodID == kMethodCopy || coder.MethodID == kMethodLzma || coder.MethodID == kMethodLzma2);
}

// True for the layouts decoded here: one main coder reading the block's one
// packed stream, optionally bound to an x86 filter without properties.
bool IsStreamedLayout(const CSzFolder& folder) {
  if (folder.NumPackStreams != 1 || folder.PackStreams[0] != 0 || !IsMainCoder(folder.Coders[0])) return false;
  if (folder.NumCoders == 1) return folder.NumBonds == 0;
  if (folder.NumCoders != 2) return false;
  const CSzCoderInfo& filter = folder.Coders[1];
  return filter.MethodID == kMethodX86 && filter.NumStreams == 1 && filter.PropsSize == 0 && folder.NumBonds == 1 &&
         folder.Bonds[0].InIndex == 1 && folder.Bonds[0].OutIndex == 0;
}

// The block's coders as the SDK reads them; false for anything the SDK's
// own decoding would refuse or find inconsistent, which then answers for it.
bool ReadFolder(const CSzArEx* db, uint32_t index, CSzFolder* folder) {
  const CSzAr& ar = db->db;
  CSzData data;
  data.Data = ar.CodersData + ar.FoCodersOffsets[index];
  data.Size = ar.FoCodersOffsets[index + 1] - ar.FoCodersOffsets[index];
  if (SzGetNextFolderItem(folder, &data) != SZ_OK) return false;
  return data.Size == 0 && folder->UnpackStream == ar.FoToMainUnpackSizeIndex[index];
}

// The ring the LZMA decoder writes into: the dictionary's size as the SDK
// rounds it, or the whole block when that is smaller (then it never wraps).
size_t DictionaryBytes(uint32_t dictionary, uint64_t unpackSize) {
  uint64_t mask = (1u << 12) - 1;
  if (dictionary >= (1u << 30))
    mask = (1u << 22) - 1;
  else if (dictionary >= (1u << 22))
    mask = (1u << 20) - 1;
  uint64_t bytes = (static_cast<uint64_t>(dictionary) + mask) & ~mask;
  if (bytes > unpackSize) bytes = unpackSize;
  return static_cast<size_t>(bytes);
}

SRes ReadPacked(BlockDecoder* d, void* dest, size_t* size) {
  return File_Read(d->file, dest, size) == 0 ? SZ_OK : SZ_ERROR_READ;
}

// Makes input available when the buffer is used up; leaves it empty at the
// packed stream's end.
SRes RefillInput(BlockDecoder* d) {
  if (d->inputPos < d->inputEnd || d->packRemaining == 0) return SZ_OK;
  size_t size = d->packRemaining < kBlockInputBytes ? static_cast<size_t>(d->packRemaining) : kBlockInputBytes;
  SRes result = ReadPacked(d, d->input, &size);
  d->inputPos = 0;
  d->inputEnd = size;
  d->packRemaining = size == 0 ? 0 : d->packRemaining - size;
  return result;
}

bool InputUsedUp(const BlockDecoder* d) { return d->inputPos == d->inputEnd && d->packRemaining == 0; }

SRes DecodeToDictionary(BlockDecoder* d, size_t limit, ELzmaFinishMode finish, size_t* used) {
  SizeT length = d->inputEnd - d->inputPos;
  SRes result = d->coder == BlockCoder::kLzma2
                    ? Lzma2Dec_DecodeToDic(&d->lzma2, limit, d->input + d->inputPos, &length, finish, &d->status)
                    : LzmaDec_DecodeToDic(&d->lzma2.decoder, limit, d->input + d->inputPos, &length, finish, &d->status);
  d->inputPos += length;
  *used = length;
  return result;
}

// After the last byte: the stream must end here and use all its input, as
// the SDK's whole-block loop demands. LZMA may end without a marker; LZMA2
// always has one.
SRes FinishCompressed(BlockDecoder* d) {
  for (;;) {
    if (d->status == LZMA_STATUS_FINISHED_WITH_MARK) return InputUsedUp(d) ? SZ_OK : SZ_ERROR_DATA;
    if (d->coder == BlockCoder::kLzma && d->status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK && InputUsedUp(d))
      return SZ_OK;
    RINOK(RefillInput(d))
    size_t used = 0;
    RINOK(DecodeToDictionary(d, d->lzma2.decoder.dicPos, LZMA_FINISH_END, &used))
    if (used == 0 && d->status != LZMA_STATUS_FINISHED_WITH_MARK) return SZ_ERROR_DATA;
  }
}

// Decodes at least one byte (at most capacity) into dest.
SRes DecodeSome(BlockDecoder* d, unsigned char* dest, size_t capacity, size_t* size) {
  *size = 0;
  if (d->coder == BlockCoder::kCopy) {
    uint64_t left = d->unpackSize - d->decoded;
    size_t want = left < capacity ? static_cast<size_t>(left) : capacity;
    RINOK(ReadPacked(d, dest, &want))
    if (want == 0) return SZ_ERROR_INPUT_EOF;
    d->packRemaining -= want;
    d->decoded += want;
    *size = want;
    return SZ_OK;
  }

  CLzmaDec* lzma = &d->lzma2.decoder;
  for (;;) {
    if (lzma->dicPos == d->dictionarySize) lzma->dicPos = 0;
    const size_t start = lzma->dicPos;
    uint64_t room = d->dictionarySize - start;
    if (room > capacity) room = capacity;
    const uint64_t left = d->unpackSize - d->decoded;
    const bool last = left <= room;
    if (last) room = left;
    RINOK(RefillInput(d))
    size_t used = 0;
    RINOK(DecodeToDictionary(d, start + static_cast<size_t>(room), last ? LZMA_FINISH_END : LZMA_FINISH_ANY, &used))
    const size_t got = lzma->dicPos - start;
    memcpy(dest, d->dictionary + start, got);
    d->decoded += got;
    // An end marker before the block's size is reached is damage.
    if (d->status == LZMA_STATUS_FINISHED_WITH_MARK && d->decoded != d->unpackSize) return SZ_ERROR_DATA;
    if (got == 0 && used == 0) return SZ_ERROR_DATA;
    if (got > 0) {
      *size = got;
      return SZ_OK;
    }
  }
}

}  // namespace

void BlockDecoderInit(BlockDecoder* decoder) {
  memset(decoder, 0, sizeof(*decoder));
  Lzma2Dec_CONSTRUCT(&decoder->lzma2);
}

SRes BlockDecoderOpen(BlockDecoder* d, const CSzArEx* db, uint32_t folderIndex, CSzFile* file, ISzAllocPtr alloc) {
  CSzFolder folder;
  if (!ReadFolder(db, folderIndex, &folder) || !IsStreamedLayout(folder)) return SZ_ERROR_UNSUPPORTED;

  const CSzAr& ar = db->db;
  const CSzCoderInfo& coder = folder.Coders[0];
  const Byte* props = ar.CodersData + ar.FoCodersOffsets[folderIndex] + coder.PropsOffset;
  const uint32_t packIndex = ar.FoStartPackStreamIndex[folderIndex];
  d->file = file;
  d->alloc = alloc;
  d->x86Filter = folder.NumCoders == 2;
  d->filterState = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
  d->unpackSize = SzAr_GetFolderUnpackSize(&ar, folderIndex);
  d->packRemaining = ar.PackPositions[packIndex + 1] - ar.PackPositions[packIndex];
  d->hasBlockCrc = SzBitWithVals_Check(&ar.FolderCRCs, folderIndex);
  d->blockCrc = d->hasBlockCrc ? ar.FolderCRCs.Vals[folderIndex] : 0;
  d->crc = CRC_INIT_VAL;

  Int64 position = static_cast<Int64>(db->dataPos + ar.PackPositions[packIndex]);
  if (File_Seek(file, &position, SZ_SEEK_SET) != 0) return SZ_ERROR_READ;

  if (coder.MethodID == kMethodCopy) {
    d->coder = BlockCoder::kCopy;
    return d->packRemaining == d->unpackSize ? SZ_OK : SZ_ERROR_DATA;
  }
  if (coder.MethodID == kMethodLzma) {
    d->coder = BlockCoder::kLzma;
    RINOK(LzmaDec_AllocateProbs(&d->lzma2.decoder, props, coder.PropsSize, alloc))
  } else {
    d->coder = BlockCoder::kLzma2;
    if (coder.PropsSize != 1) return SZ_ERROR_DATA;
    RINOK(Lzma2Dec_AllocateProbs(&d->lzma2, props[0], alloc))
  }
  d->dictionarySize = DictionaryBytes(d->lzma2.decoder.prop.dicSize, d->unpackSize);
  d->dictionary = static_cast<unsigned char*>(ISzAlloc_Alloc(alloc, d->dictionarySize));
  d->input = static_cast<unsigned char*>(ISzAlloc_Alloc(alloc, kBlockInputBytes));
  if ((!d->dictionary && d->dictionarySize != 0) || !d->input) return SZ_ERROR_MEM;
  d->lzma2.decoder.dic = d->dictionary;
  d->lzma2.decoder.dicBufSize = d->dictionarySize;
  if (d->coder == BlockCoder::kLzma2)
    Lzma2Dec_Init(&d->lzma2);
  else
    LzmaDec_Init(&d->lzma2.decoder);
  return SZ_OK;
}

SRes BlockDecoderRead(BlockDecoder* d, unsigned char* dest, size_t capacity, size_t* size) {
  *size = 0;
  if (BlockDecoderDone(d)) return SZ_OK;
  size_t filled = d->heldSize;
  memcpy(dest, d->held, d->heldSize);
  d->heldSize = 0;
  while (filled < capacity && d->decoded < d->unpackSize) {
    size_t got = 0;
    RINOK(DecodeSome(d, dest + filled, capacity - filled, &got))
    filled += got;
  }
  const bool end = d->decoded == d->unpackSize;
  if (end && d->coder != BlockCoder::kCopy) RINOK(FinishCompressed(d))

  size_t ready = filled;
  if (d->x86Filter) {
    const unsigned char* converted =
        z7_BranchConvSt_X86_Dec(dest, filled, static_cast<UInt32>(d->produced), &d->filterState);
    // At the block's end the last bytes stay as they are, as in one pass
    // over the whole block.
    if (!end) {
      ready = static_cast<size_t>(converted - dest);
      d->heldSize = filled - ready;
      memcpy(d->held, dest + ready, d->heldSize);
    }
  }
  if (d->hasBlockCrc) d->crc = CrcUpdate(d->crc, dest, ready);
  d->produced += ready;
  if (BlockDecoderDone(d) && d->hasBlockCrc && CRC_GET_DIGEST(d->crc) != d->blockCrc) {
    d->produced -= ready;
    return SZ_ERROR_CRC;
  }
  *size = ready;
  return SZ_OK;
}

void BlockDecoderFree(BlockDecoder* d) {
  if (d->alloc) {
    Lzma2Dec_FreeProbs(&d->lzma2, d->alloc);
    ISzAlloc_Free(d->alloc, d->dictionary);
    ISzAlloc_Free(d->alloc, d->input);
  }
  BlockDecoderInit(d);
}
