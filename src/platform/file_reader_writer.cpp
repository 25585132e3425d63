// Whole-file reading and writing through binary streams: no line-end
// translation, so the bytes on disk are exactly the bytes of the string.
// WriteFileAtomically needs the platform's durable-rename primitives and lives in
// file_replace_<platform>.cpp.
#include "platform/file_reader_writer.h"

#include <filesystem>
#include <fstream>
#include <ios>
#include <system_error>

#include "platform/path_utf8.h"
#include "platform/trace.h"

namespace vorneth {

std::string FileReaderWriter::ReadFile(const std::string& path) {
  TraceFunction trace("FileReaderWriter::ReadFile");
  trace.Text("filePath.c_str ()", path);

  // A directory opens as a stream on some platforms (with a meaningless
  // size); it counts as a file that cannot be opened.
  std::filesystem::path file_path;
  std::error_code error;
  std::ifstream file;
  if (Utf8ToPath(path, file_path) && !std::filesystem::is_directory(file_path, error)) {
    file.open(file_path, std::ios::in | std::ios::binary | std::ios::ate);
  }
  const std::streamoff size = file.is_open() ? static_cast<std::streamoff>(file.tellg()) : -1;
  std::string content;
  if (size < 0 || static_cast<unsigned long long>(size) > content.max_size()) {
    trace.Text("filePath.c_str ()", path);
    trace.Message("FileReaderWriter::ReadFile - ERROR - Vorneth ReadFile failed to open file");
    return std::string();
  }
  if (size == 0) return content;

  content.resize(static_cast<size_t>(size));
  file.seekg(0, std::ios::beg);
  file.read(content.data(), size);
  // A file that shrank while being read yields what was there.
  content.resize(static_cast<size_t>(file.gcount()));
  return content;
}

void FileReaderWriter::WriteFile(const std::string& path, const std::string& content) {
  TraceFunction trace("FileReaderWriter::WriteFile");
  trace.Text("filePath.c_str ()", path);

  std::filesystem::path file_path;
  if (!Utf8ToPath(path, file_path)) return;
  std::ofstream file(file_path, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!file.is_open()) return;

  TraceFunction opened("FileReaderWriter::WriteFile file is opened for writing");
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  file.close();
}

}  // namespace vorneth
