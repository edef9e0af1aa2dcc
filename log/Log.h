// The library's diagnostic log: one file a day per host executable, in c:\kqllog\ or d:\kqllog\.
// Any thread may log at any time; logging never fails towards its caller and throws nothing.
#pragma once

#include <windows.h>

typedef LONG LogLevel;
#define LOG_LEVEL_DEBUG 1
#define LOG_LEVEL_INFO 2
#define LOG_LEVEL_WARN 3
#define LOG_LEVEL_ERROR 4

// printf-style; the line names the library as the logging module. Always 0.
int LogInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
int LogWarn(const char* format, ...) __attribute__((format(printf, 1, 2)));
int LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A finished text, written with an empty module name. -1 for a null text, else 0.
int LogWarnText(const char* text);
int LogErrorText(const char* text);

// The steps behind them, exposed for the log's own tests.
int LogMessage(const char* text, LogLevel level, const void* codeAddress);
int WriteLogLine(const char* text, int length, LogLevel level, const char* moduleName);
int UpdateLogPath();
int SelectLogDirectory(const char* fileName);
int MakeDirectoryPath(const char* path);
int IsDirectory(const char* path);
int GetModuleNameFromAddress(const void* codeAddress, char* name, int size);
// The current log file (Windows path), empty before the first line.
const char* GetCurrentLogPath();
// Forgets the chosen directory and file, as a fresh process would have them.
void ResetLogStateForTesting();
