#pragma once
// Every carver has the same entry: the scan context, the start offset S of its candidate
// (bytes), and the output folder (ending in '/', empty for claim-only). Carvers that never
// save ignore the folder.

#include <cstdint>
#include <string_view>

#include "engine/scan_context.h"

namespace quorvex {

using CarverFn = void (*)(ScanContext& ctx, int64_t start_offset, std::string_view folder);

// Archive carvers (carvers/archive/).
void CarveRar(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveRar5(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveZip(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveOfficeZip(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveCdrZip(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveCab(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void Carve7z(ScanContext& ctx, int64_t start_offset, std::string_view folder);

// Claim-only walks of other formats (carvers/media/).
void CarveJpeg(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveBmp(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarvePng(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveTiffRaw(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveX3f(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveRaf(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveRiff(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveRiffCdr(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveAsf(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveAsfObjects(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveMp4(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveMpegPs(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveMpegTs(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarveOle2(ScanContext& ctx, int64_t start_offset, std::string_view folder);
void CarvePdf(ScanContext& ctx, int64_t start_offset, std::string_view folder);

/// Which folder the scan driver hands a carver.
enum class FolderRule : uint8_t {
  kNone,       ///< claim-only
  kAlways,     ///< the output folder (carvers that define a folder parameter)
  kIfSelected  ///< the folder when the code's TypeMask bit is set, else none
};

struct DispatchRow {
  CarverFn carver = nullptr;   ///< null: nothing is done for the code
  FolderRule folder = FolderRule::kNone;
  int mask_bit = -1;           ///< TypeMask bit that selects saving (kIfSelected)
};

/// The row for a TypeCode of the main run (code 2 and the metadata code have none here).
const DispatchRow& DispatchFor(uint8_t type_code);

}  // namespace quorvex
