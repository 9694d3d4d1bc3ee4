#pragma once
// Opening and closing the source: a volume or physical drive from the drive list, or an
// image file. Each operation fills SourceState, points the sector reader at the new
// device (emptying its window) and returns what the window must show; no operation here
// shows anything itself.

#include <cstdint>
#include <string>

#include "platform/drive_list.h"
#include "source/geometry.h"
#include "source/sector_reader.h"

namespace quorvex {

/// Text slots of the opening messages (caption slot 17 "Error").
inline constexpr int kSlotFailedOpenDrive = 16;
inline constexpr int kSlotFailedOpenFile = 48;
inline constexpr int kSlotFailedParameters = 63;

/// What the main window shows after an opening. When opened is false only message_slot
/// and error_number mean anything, and the window is left idle (as after CloseSource).
struct OpenView {
  bool opened = false;
  int message_slot = 0;        ///< 16, 48 or 63 when the opening failed
  int error_number = 0;        ///< errno of the failure (0 when there is none)
  bool recognised = false;     ///< DetectFileSystem found a file system

  int cause_item = 0;          ///< ComboBox3: 0 "Deleted or Disappeared", 2 "Repartitioned"
  bool boxes_enabled = false;  ///< ComboBox2 and ComboBox1
  int fs_item = 0;             ///< ComboBox2
  int cluster_item = 0;        ///< ComboBox1
  bool free_space_enabled = false;  ///< CheckBox8 (checked state untouched)
  std::string first_sector_text;    ///< Edit3
  std::string last_sector_text;     ///< Edit4
  bool set_sector_size_panel = false;  ///< panel 0 changes only for drives
  std::string sector_size_panel;       ///< status panel 0: slot 86 + bytes per sector
  std::string total_sectors_panel;     ///< status panel 1: slot 18 + sector count
  std::string opened_label;            ///< Label16: slot 84 + name (file name only for images)
  std::string source_name;             ///< also in SourceState::name
};

/// Opens a volume or physical-drive entry (Button1Click). The current source is closed
/// first. A volume is examined for a file system; a physical drive never is.
OpenView OpenDrive(SourceState& source, SectorReader& reader, const DriveEntry& entry);

/// Opens an image file (Button10Click after the file dialog). The current source is
/// closed first.
OpenView OpenImage(SourceState& source, SectorReader& reader, const std::string& path);

/// Closes the source if one is open (Button2Click, FormClose); safe when nothing is open.
/// The geometry records and the name keep their values. Returns whether one was open.
/// The window then resets its controls to the idle state whatever the result.
bool CloseSource(SourceState& source, SectorReader& reader);

}  // namespace quorvex
