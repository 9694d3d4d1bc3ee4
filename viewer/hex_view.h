#pragma once
// The window side of the hex view: puts the dump lines of one sector (viewer/hex_dump.h)
// into the main window's read-only text box, with redrawing suspended meanwhile.

#include <cstdint>

class QPlainTextEdit;

namespace quorvex {

/// Replaces the box's text by the dump of a sector of bytes_per_sector bytes.
void ShowSectorDump(QPlainTextEdit* memo, const uint8_t* sector, uint32_t bytes_per_sector);

}  // namespace quorvex
