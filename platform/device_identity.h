#pragma once
// "Is this folder on the source?" A rescue or backup must not write onto what it reads:
// refused when the folder's file system lives on the source block device, on one of the
// partitions of a source disk, or on a device built on top of either (device mapper, md).

#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/sector_device.h"

namespace quorvex {

/// The block devices that writing to would change the source `device`: the device itself,
/// its partitions, and (recursively, bounded) the holders of each, from
/// sysfs_root/dev/block/MAJ:MIN. Only `device` when sysfs says nothing.
std::vector<dev_t> DevicesOnSource(dev_t device, const std::string& sysfs_root = "/sys");

/// True when the file system holding `folder` (its st_dev) is the source block device or
/// one of DevicesOnSource. An image file source, or a folder that cannot be examined,
/// gives false (the folder checks report a missing folder themselves).
bool SameDeviceAsSource(const std::string& folder, const DeviceIdentity& source,
                        const std::string& sysfs_root = "/sys");

/// The same test for a known folder device number.
bool DeviceOnSource(dev_t folder_device, const DeviceIdentity& source, const std::string& sysfs_root = "/sys");

}  // namespace quorvex
