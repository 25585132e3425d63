// What both platforms share of FileReaderWriter: trace scopes, argument
// checks, the tracing of every failure, and the parts the standard library
// does alike everywhere (plain writes, listing and removing leftovers). The
// system calls are in file_read_<platform>.cpp and file_atomic_<platform>.cpp.
#include "platform/file_reader_writer.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ios>
#include <string_view>
#include <system_error>

#include "platform/data_directory.h"
#include "platform/file_io_internal.h"
#include "platform/path_utf8.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

namespace fs = std::filesystem;

constexpr char kReadError[] = "FileReaderWriter::ReadFile - ERROR - Vorneth ReadFile failed to open file";
constexpr char kWriteError[] = "FileReaderWriter - ERROR - write failed";
// The trace result of a write that replaced the file.
constexpr int32_t kTraceWritten = 1;

constexpr std::string_view kTemporarySuffix = ".tmp";

// Traces a failed write and hands it on.
Status TracedFailure(const TraceFunction& trace, Status status) {
  trace.Message(kWriteError);
  trace.Text("why", status.why());
  return status;
}

// "<folder>/", "<name>" of `path`; the folder is empty for a bare name.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t separator = path.find_last_of(kPathSeparators);
  folder = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
  name = separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string Utf8Name(const fs::path& path) {
  const std::u8string name = path.filename().u8string();
  return std::string(name.begin(), name.end());
}

bool IsTemporaryOf(const std::string& entry, const std::string& name) {
  // "<name>." + at least one character + ".tmp"
  return entry.size() > name.size() + 1 + kTemporarySuffix.size() && entry.compare(0, name.size(), name) == 0 &&
         entry[name.size()] == '.' && std::string_view(entry).ends_with(kTemporarySuffix);
}

}  // namespace

FileRead FileReaderWriter::ReadFile(const std::string& path, std::string& content, uint64_t limit) {
  TraceFunction trace("FileReaderWriter::ReadFile");
  trace.Text("filePath.c_str ()", path);
  content.clear();
  std::string why;
  fs::path checked;
  const FileRead result =
      Utf8ToPath(path, checked) ? file_io::ReadRegularFile(path, limit, content, why) : FileRead::kFailed;
  if (result == FileRead::kRead) return result;
  if (result == FileRead::kFailed && why.empty()) why = "the path is not valid UTF-8";
  if (result == FileRead::kTooLarge) why = "larger than " + std::to_string(limit) + " bytes";
  trace.Text("filePath.c_str ()", path);
  trace.Message(kReadError);
  if (result != FileRead::kAbsent) trace.Text("why", why);
  return result;
}

Status FileReaderWriter::WriteFile(const std::string& path, const std::string& content) {
  TraceFunction trace("FileReaderWriter::WriteFile");
  trace.Text("filePath.c_str ()", path);
  fs::path file_path;
  if (!Utf8ToPath(path, file_path)) return TracedFailure(trace, Status::Failed("the path is not valid UTF-8"));
  std::ofstream file(file_path, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!file.is_open()) return TracedFailure(trace, Status::Failed("cannot open " + path + " for writing"));

  TraceFunction opened("FileReaderWriter::WriteFile file is opened for writing");
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  file.close();
  if (file.fail()) return TracedFailure(trace, Status::Failed("cannot write " + path));
  trace.SetResult(kTraceWritten);
  return Status::Ok();
}

Status FileReaderWriter::WriteFileAtomically(const std::string& path, const std::string& content) {
  TraceFunction trace("FileReaderWriter::WriteFileAtomically");
  trace.Text("filePath.c_str ()", path);
  std::string folder;
  std::string name;
  SplitPath(path, folder, name);
  fs::path checked;
  if (!Utf8ToPath(path, checked)) return TracedFailure(trace, Status::Failed("the path is not valid UTF-8"));
  if (name.empty()) return TracedFailure(trace, Status::Failed("the path names no file: " + path));
  Status status = file_io::ReplaceWhole(path, folder, content);
  if (!status.ok()) return TracedFailure(trace, std::move(status));
  trace.SetResult(kTraceWritten);
  return status;
}

Status FileReaderWriter::RemoveTemporaryFiles(const std::string& path) {
  TraceFunction trace("FileReaderWriter::RemoveTemporaryFiles");
  trace.Text("filePath.c_str ()", path);
  std::string folder;
  std::string name;
  SplitPath(path, folder, name);
  fs::path folder_path;
  if (name.empty() || !Utf8ToPath(folder.empty() ? std::string(".") : folder, folder_path)) {
    return TracedFailure(trace, Status::Failed("the path names no file: " + path));
  }
  std::error_code error;
  fs::directory_iterator entries(folder_path, error);
  if (error) return TracedFailure(trace, Status::Failed("cannot list " + folder + ": " + error.message()));
  Status result = Status::Ok();
  for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
    const std::string entry = Utf8Name(entries->path());
    if (!IsTemporaryOf(entry, name)) continue;
    std::error_code entry_error;
    const fs::file_status status = entries->symlink_status(entry_error);
    if (entry_error || !(fs::is_regular_file(status) || fs::is_symlink(status))) continue;
    trace.Text("removed", entry);
    if (!fs::remove(entries->path(), entry_error)) {
      result = Status::Failed("cannot remove " + entry + ": " + entry_error.message());
    }
  }
  if (error) result = Status::Failed("cannot list " + folder + ": " + error.message());
  return result.ok() ? result : TracedFailure(trace, std::move(result));
}

bool FileReaderWriter::Exists(const std::string& path) {
  fs::path file_path;
  std::error_code error;
  return Utf8ToPath(path, file_path) && fs::exists(fs::symlink_status(file_path, error));
}

}  // namespace vorneth
