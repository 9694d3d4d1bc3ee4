#include <array>

#include "carvers/carver.h"
#include "engine/identify.h"
#include "engine/scan_options.h"

namespace quorvex {
namespace {

using namespace type_code;

constexpr std::array<DispatchRow, type_code::kCount> MakeTable() {
  std::array<DispatchRow, type_code::kCount> t{};
  t[kJpegApp] = {CarveJpeg, FolderRule::kAlways, -1};
  t[kBmp] = {CarveBmp, FolderRule::kAlways, -1};
  t[kPng] = {CarvePng, FolderRule::kAlways, -1};
  t[kOle2] = {CarveOle2, FolderRule::kAlways, -1};
  t[kRiffAvi] = {CarveRiff, FolderRule::kNone, -1};
  t[kRiffWave] = {CarveRiff, FolderRule::kNone, -1};
  t[kRiffAcon] = {CarveRiff, FolderRule::kNone, -1};
  t[kRiffCdxa] = {CarveRiff, FolderRule::kNone, -1};
  t[kAsf] = {CarveAsf, FolderRule::kNone, -1};
  t[kAsfOther] = {CarveAsfObjects, FolderRule::kNone, -1};
  t[kRiffCdr] = {CarveRiffCdr, FolderRule::kNone, -1};
  t[kTiffRaw] = {CarveTiffRaw, FolderRule::kAlways, -1};
  t[kX3f] = {CarveX3f, FolderRule::kAlways, -1};
  t[kRaf] = {CarveRaf, FolderRule::kAlways, -1};
  t[kRar] = {CarveRar, FolderRule::kIfSelected, kMaskBitRar};
  t[kRar5] = {CarveRar5, FolderRule::kIfSelected, kMaskBitRar};
  t[kZip] = {CarveZip, FolderRule::kIfSelected, kMaskBitZip};
  t[kOfficeZip] = {CarveOfficeZip, FolderRule::kAlways, -1};
  t[kCdrZip] = {CarveCdrZip, FolderRule::kNone, -1};
  t[kCab] = {CarveCab, FolderRule::kIfSelected, kMaskBitCab};
  t[k7z] = {Carve7z, FolderRule::kIfSelected, kMaskBit7z};
  t[kMp4] = {CarveMp4, FolderRule::kAlways, -1};
  t[k3gp] = {CarveMp4, FolderRule::kAlways, -1};
  t[kIsoOther] = {CarveMp4, FolderRule::kAlways, -1};
  t[kPdf] = {CarvePdf, FolderRule::kNone, -1};
  t[kMpegPs] = {CarveMpegPs, FolderRule::kNone, -1};
  t[kMpegTs] = {CarveMpegTs, FolderRule::kNone, -1};
  return t;
}

constexpr std::array<DispatchRow, type_code::kCount> kTable = MakeTable();

}  // namespace

const DispatchRow& DispatchFor(uint8_t code) {
  static constexpr DispatchRow kNothing{};
  return code < kTable.size() ? kTable[code] : kNothing;
}

}  // namespace quorvex
