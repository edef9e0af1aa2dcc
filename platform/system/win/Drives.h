// The drive map: Windows paths with a drive letter resolve to host directories.
//
//   C:  always present; by default <data>/lumacap/drives/c, created when first used
//   D:  by default <data>/lumacap/drives/d, present only while that directory exists
//   Z:  the root of the host file system (so any host path has a Windows form)
//
// <data> is $XDG_DATA_HOME or ~/.local/share; $LUMACAP_DRIVE_C and $LUMACAP_DRIVE_D override the
// two roots, as an operating system's own settings would. Backslashes become slashes; paths
// without a drive letter are host paths and pass unchanged.
#pragma once

#include <cstdint>
#include <string>

namespace lumacap::win {

// Resolves `path` to a host path. False when the path names a drive that is not mapped.
bool MapPath(const char* path, std::string* hostPath);
// The Windows form of a host path: under a mapped drive's root it uses that drive's letter,
// otherwise Z: ("/usr/lib/x.so" -> "Z:\usr\lib\x.so").
std::string ToWindowsPath(const std::string& hostPath);

// Drive roots. A null or empty directory unmaps the drive.
void SetDriveRoot(char letter, const char* directory);
std::string GetDriveRoot(char letter);
// Free space reported for a drive, in bytes; a negative value measures the real disk again.
void SetDriveFreeSpace(char letter, int64_t bytes);
// Free bytes for the caller, total and total free; false if the drive is not present.
bool QueryDriveSpace(char letter, uint64_t* freeToCaller, uint64_t* total, uint64_t* totalFree);
// Free space of the file system holding a host path.
bool QueryHostSpace(const std::string& hostPath, uint64_t* freeToCaller, uint64_t* total,
                    uint64_t* totalFree);
// The drive letter a Windows path starts with (upper case), or 0.
char DriveLetterOf(const char* path);
// Back to the defaults above.
void ResetDrives();

// Maps errno to the Win32 error code of the same meaning.
unsigned long ErrnoToWin32(int err);

}  // namespace lumacap::win
