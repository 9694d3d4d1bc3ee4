// JPEG: the marker segments from the start-of-image marker to the start-of-scan header are
// stepped over by their lengths; the file then ends at the first FF D9 pair (searched within
// 32 MiB). A bad marker prefix, a segment length of 2 or less, the scan-range end or no end
// marker gives the sectors back. A complete structure is decoded in full: a picture that
// decodes keeps its sectors unless it is thumbnail-sized; one the decoder rejects keeps them too.

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "carvers/carver.h"
#include "engine/thumbs.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr int64_t kFirstMarkerPos = 2;          // just after FF D8
constexpr int64_t kMarkerHeaderSize = 4;        // prefix, type, 16-bit big-endian length
constexpr int64_t kSearchLimit = 33554432;      // 32 MiB: no end marker beyond this
constexpr uint16_t kMinSegmentLength = 3;       // a length of 2 or less holds no payload

struct DecodeErrors {
  jpeg_error_mgr manager;  // first member: libjpeg hands back a pointer to it
  std::jmp_buf escape;
};

void FatalDecodeError(j_common_ptr info) {
  auto* errors = reinterpret_cast<DecodeErrors*>(info->err);
  std::longjmp(errors->escape, 1);
}

void IgnoreDecodeMessage(j_common_ptr /*info*/, int /*level*/) {}
void IgnoreDecodeOutput(j_common_ptr /*info*/) {}

// Decodes the whole picture (at an eighth of its size). Warnings (recoverable corrupt data) are ignored; a
// fatal error returns false. Only plain C objects live in this frame, so the jump back from
// the error handler skips no destructor; every decoder allocation lives in its pools and goes
// with jpeg_destroy_decompress on both paths.
bool DecodeJpeg(const uint8_t* data, size_t size, int32_t* pixels) {
  jpeg_decompress_struct info;
  DecodeErrors errors;
  std::memset(&info, 0, sizeof info);
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = FatalDecodeError;
  errors.manager.emit_message = IgnoreDecodeMessage;
  errors.manager.output_message = IgnoreDecodeOutput;
  if (setjmp(errors.escape) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  // The check needs every scan entropy-decoded, not the pixels: decoding at an eighth of the
  // size reads and checks the same coded data (the same markers, tables and Huffman codes, so
  // the same fatal errors) while the inverse transform keeps only each block's DC term.
  info.dct_method = JDCT_IFAST;
  info.do_fancy_upsampling = FALSE;
  info.scale_num = 1;
  info.scale_denom = 8;
  jpeg_start_decompress(&info);
  const JDIMENSION row_bytes = info.output_width * static_cast<JDIMENSION>(info.output_components);
  JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, row_bytes, 1);
  while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, row, 1);
  jpeg_finish_decompress(&info);
  // The pixel count is a signed 32-bit product, as the thumbnail counts are.
  *pixels = static_cast<int32_t>(static_cast<uint32_t>(info.image_width) * static_cast<uint32_t>(info.image_height));
  jpeg_destroy_decompress(&info);
  return true;
}

bool ExtendOneSector(Walk& walk) { return walk.ReadAhead(walk.buffered() + walk.sector_size()); }

// The length of the file up to and including its end marker, or 0 when the structure is not
// complete (the walk then gives up).
int64_t WalkStructure(Walk& walk) {
  const uint8_t* signature = walk.View(0, 3);
  if (signature == nullptr || signature[0] != kMarkerPrefix || signature[1] != kStartOfImage ||
      signature[2] != kMarkerPrefix)
    return 0;
  int64_t parse = kFirstMarkerPos;
  for (;;) {
    if (walk.buffered() < parse + kMarkerHeaderSize && !ExtendOneSector(walk)) return 0;
    const auto prefix = walk.U8(parse);
    const auto type = walk.U8(parse + 1);
    const auto length = walk.Be16(parse + 2);
    if (!prefix || !type || !length) return 0;
    parse += kMarkerHeaderSize;
    if (*prefix != kMarkerPrefix) return 0;
    if (*type == kStartOfScan) break;
    if (*length < kMinSegmentLength) return 0;
    const int64_t payload = *length - 2;
    // A chain of segments is bounded like the search for the end marker, so a run of FF
    // bytes cannot gather the rest of the disk into memory.
    if (parse + payload > kSearchLimit) return 0;
    if (!walk.ReadAhead(parse + payload)) return 0;
    parse += payload;
  }
  // The start-of-scan header and the entropy-coded data are searched alike: only FF D9 ends.
  for (;;) {
    const int64_t fill = walk.buffered();
    if (fill - parse >= 2) {
      const uint8_t* bytes = walk.View(parse, static_cast<size_t>(fill - parse));
      if (bytes == nullptr) return 0;
      const size_t count = static_cast<size_t>(fill - parse);
      for (size_t i = 0; i + 1 < count; ++i) {
        if (bytes[i] == kMarkerPrefix && bytes[i + 1] == kEndOfImage) return parse + static_cast<int64_t>(i) + 2;
      }
    }
    parse = fill - 2;  // a pair split across the next sector boundary is still seen
    if (parse >= kSearchLimit) return 0;
    if (!ExtendOneSector(walk)) return 0;  // the read-ahead refreshes the progress line
  }
}

}  // namespace

void CarveJpeg(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const int64_t length = WalkStructure(walk);
  if (length == 0) return;  // gives up: the map is as before
  const uint8_t* data = walk.View(0, static_cast<size_t>(length));
  int32_t pixels = 0;
  if (data == nullptr || !DecodeJpeg(data, static_cast<size_t>(length), &pixels)) {
    // Complete in structure but not decodable: still a picture's sectors, kept out of archives.
    walk.Accept();
    return;
  }
  static const ThumbSettings kNoThumbs;
  const ThumbSettings& thumbs = ctx.thumbs != nullptr ? *ctx.thumbs : kNoThumbs;
  if (thumbs.IsThumbnail(pixels)) {
    walk.GiveUp();  // a thumbnail: its sectors are given back
    return;
  }
  walk.Accept();
}

}  // namespace quorvex
