// What both platforms share of file_writer.h: the name checks and the
// splitting into components, the trace scopes and the tracing of failures.
// The system calls are in file_writer_<platform>.cpp.
#include "platform/file_writer.h"

#include <string_view>
#include <utility>
#include <vector>

#include "platform/data_directory.h"
#include "platform/file_writer_native.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

constexpr std::string_view kSeparators = kPathSeparators;
#ifdef _WIN32
constexpr std::string_view kRefusedBytes = std::string_view(":\0", 2);
#else
constexpr std::string_view kRefusedBytes = std::string_view("\0", 1);
#endif

bool IsRefusedComponent(std::string_view component) {
  return component == "." || component == ".." || component.find_first_of(kRefusedBytes) != std::string_view::npos;
}

// The components of `relative`, or a failure saying why the name is refused.
Status SplitRelative(std::string_view relative, std::vector<std::string>& components) {
  components.clear();
  if (relative.empty()) return Status::Failed("the name is empty");
  if (kSeparators.find(relative.front()) != std::string_view::npos) return Status::Failed("the name is absolute");
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find_first_of(kSeparators, start);
    if (end == std::string_view::npos) end = relative.size();
    const std::string_view component = relative.substr(start, end - start);
    if (IsRefusedComponent(component)) return Status::Failed("the name has a refused component");
    if (!component.empty()) components.emplace_back(component);
    start = end + 1;
  }
  if (components.empty()) return Status::Failed("the name has no component");
  return Status::Ok();
}

Status Traced(const TraceFunction& trace, Status status) {
  if (!status.ok()) {
    trace.Message("file writer - ERROR");
    trace.Text("why", status.why());
  }
  return status;
}

}  // namespace

Status FileWriter::Create(const std::string& base, const std::string& relative, std::unique_ptr<FileWriter>& writer) {
  TraceFunction trace("FileWriter::Create");
  trace.Text("base.c_str ()", base);
  trace.Text("relative.c_str ()", relative);
  writer.reset();
  std::vector<std::string> components;
  Status status = SplitRelative(relative, components);
  // A name that ends in a separator names a folder, not a file.
  if (status.ok() && kSeparators.find(relative.back()) != std::string_view::npos) {
    status = Status::Failed("the name ends in a separator");
  }
  intptr_t handle = native::kNoHandle;
  if (status.ok()) status = native::CreateFileBelow(base, components, handle);
  if (!status.ok()) return Traced(trace, std::move(status));
  writer.reset(new FileWriter(handle));
  trace.SetResult(1);
  return status;
}

FileWriter::~FileWriter() {
  if (m_handle != native::kNoHandle) (void)native::CloseFile(m_handle);  // a file given up on
}

Status FileWriter::Write(std::span<const uint8_t> bytes) {
  if (m_handle == native::kNoHandle) return Status::Failed("the file is closed");
  Status status = native::WriteToFile(m_handle, bytes);
  if (!status.ok()) {
    TraceFunction trace("FileWriter::Write");
    return Traced(trace, std::move(status));
  }
  return status;
}

Status FileWriter::Finish() {
  TraceFunction trace("FileWriter::Finish");
  if (m_handle == native::kNoHandle) return Traced(trace, Status::Failed("the file is closed"));
  const intptr_t handle = std::exchange(m_handle, native::kNoHandle);
  return Traced(trace, native::CloseFile(handle));
}

Status CreateDirectoryTreeBelow(const std::string& base, const std::string& relative) {
  TraceFunction trace("CreateDirectoryTreeBelow");
  trace.Text("base.c_str ()", base);
  trace.Text("relative.c_str ()", relative);
  std::vector<std::string> components;
  Status status = SplitRelative(relative, components);
  if (status.ok()) status = native::CreateFoldersBelow(base, components);
  if (status.ok()) trace.SetResult(1);
  return Traced(trace, std::move(status));
}

}  // namespace vorneth
