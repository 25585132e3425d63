// Whole-file reading and writing.
#ifndef VORNETH_PLATFORM_FILE_READER_WRITER_H_
#define VORNETH_PLATFORM_FILE_READER_WRITER_H_

#include <string>

namespace vorneth {

class FileReaderWriter {
 public:
  // The whole content of the file, NUL bytes included; an empty string when
  // the file cannot be opened (traced as an error).
  static std::string ReadFile(const std::string& path);

  // Replaces the file's whole content with `content`, creating it if needed.
  // A file that cannot be opened is left alone; nothing is reported.
  static void WriteFile(const std::string& path, const std::string& content);

  // Replaces the file as one step: writes `content` to a temporary file in
  // the same folder, flushes it to disk and renames it over `path`, so a
  // reader sees either the old or the new content, never a mix, even if the
  // process dies midway. Returns false (and leaves `path` untouched) on any
  // failure.
  static bool WriteFileAtomically(const std::string& path, const std::string& content);
};

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_FILE_READER_WRITER_H_
