#include "viewer/hex_view.h"

#include <QPlainTextEdit>
#include <QStringList>

#include "viewer/hex_dump.h"

namespace quorvex {

void ShowSectorDump(QPlainTextEdit* memo, const uint8_t* sector, uint32_t bytes_per_sector) {
  QStringList lines;
  for (const std::string& line : HexDumpLines(sector, bytes_per_sector))
    lines << QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
  memo->setUpdatesEnabled(false);
  memo->clear();
  memo->setPlainText(lines.join(QLatin1Char('\n')));
  memo->setUpdatesEnabled(true);
}

}  // namespace quorvex
