// The formats of `vdrtool export`. Each is one row of the table in cmd_export.cpp: the option
// that selects it, what its target is, a line of help and the writer. To add a format, write its
// writer in its own file (export_xxx.cpp), declare it below and add a row.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vdr {

// Writes every recording in `bases` to `target` (a file or a directory, per format). Returns an
// exit code; prints a line saying what was written, or the reason on stderr.
using ExportWriter = int (*)(const std::vector<std::string>& bases, const std::string& target);

struct ExportFormat {
  const char* option;  // e.g. "--csv"
  const char* target;  // "FILE" or "DIR"
  const char* help;
  ExportWriter write;
};
extern const ExportFormat kExportFormats[];
extern const size_t kExportFormatCount;

int exportJpeg(const std::vector<std::string>& bases, const std::string& dir);
int exportMjpeg(const std::vector<std::string>& bases, const std::string& file);
int exportCsv(const std::vector<std::string>& bases, const std::string& file);
int exportGpx(const std::vector<std::string>& bases, const std::string& file);
int exportAvi(const std::vector<std::string>& bases, const std::string& dir);
int exportMp4(const std::vector<std::string>& bases, const std::string& dir);

}  // namespace vdr
