// The commands of the lumacap tool. Each prints UTF-8, answers --help, and returns the process
// exit status (0 success).
#pragma once

namespace lumacap::tool {

int RunVersion(int argc, char** argv);
int RunDevices(int argc, char** argv);
int RunSnapshot(int argc, char** argv);
int RunPreview(int argc, char** argv);
int RunRecord(int argc, char** argv);
int RunWindows(int argc, char** argv);

}  // namespace lumacap::tool
