// What is done to one folder that may be a junction point: the test, the
// break (deleting its mount-point reparse data) and the removal of the
// plain empty folder that the break leaves behind.
#pragma once

#include <cstdint>
#include <string>

#include "platform/windows_api.h"

// The header of the system's reparse data buffer, with the mount-point
// name fields that follow it. Only the first 8 bytes go to the delete
// request: the tag and a data length of 0.
struct MountPointHeader {
  uint32_t ReparseTag;
  uint16_t ReparseDataLength;
  uint16_t Reserved;
  uint16_t SubstituteNameOffset;
  uint16_t SubstituteNameLength;
  uint16_t PrintNameOffset;
  uint16_t PrintNameLength;
};
static_assert(sizeof(MountPointHeader) == 16, "MountPointHeader must be 16 bytes");

// -1 when the folder carries the reparse-point attribute, 0 when it does
// not or when its attributes cannot be read. Trailing backslashes and
// spaces of the path are ignored.
int32_t IsJunctionPoint(const std::string& path);

// Deletes the folder's mount-point reparse data: 1 on success; 0 after
// telling the user why not in a message box.
int32_t DeleteMountPoint(const std::string& path);

// Removes the folder left empty by a break. Reports nothing.
void RemoveFolder(const std::string& path);
