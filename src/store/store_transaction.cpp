#include "store/store_transaction.h"

#include <json/value.h>

#include "json/json_conversions.h"
#include "json/styled_writer.h"
#include "platform/data_directory.h"
#include "platform/file_reader_writer.h"
#include "platform/trace.h"

namespace vorneth::store {
namespace {

std::mutex& ProcessMutex() {
  static std::mutex mutex;
  return mutex;
}

// "<data directory>/<name>", or nothing when there is no data directory.
std::optional<std::string> PathInDataDirectory(const char* name) {
  std::string directory;
  if (!GetDataDirectory(directory)) return std::nullopt;
  return directory + kPathSeparator + name;
}

}  // namespace

StoreLock::StoreLock() : guard_(ProcessMutex()) {
  if (std::optional<std::string> path = PathInDataDirectory(kLockFileName)) file_lock_.emplace(*path);
}

StoreContents LoadStore() {
  TraceFunction trace("VornethDB::ReadVornethDB");
  StoreContents contents;
  if (std::optional<std::string> filePath = PathInDataDirectory(kStoreFileName)) {
    trace.Text("filePath.c_str()", *filePath);
    trace.Message("GetDataDirectory result");
    contents.text = FileReaderWriter::ReadFile(*filePath);
  }
  // A parse failure is not an error here: the document is whatever the
  // reader built (null when it built nothing).
  ParseJson(contents.text, contents.document);
  return contents;
}

void SaveStore(const std::string& text) {
  TraceFunction trace("VornethDB::WriteVornethDB");
  std::optional<std::string> filePath = PathInDataDirectory(kStoreFileName);
  if (!filePath) return;
  trace.Text("filePath.c_str()", *filePath);
  trace.Message("GetDataDirectory result");
  FileReaderWriter::WriteFileAtomically(*filePath, text);
}

Json::Value ReadStore() {
  StoreLock lock;
  return LoadStore().document;
}

void ChangeStore(const std::function<bool(Json::Value& document)>& change) {
  StoreLock lock;
  StoreContents contents = LoadStore();
  if (!lock.exclusive()) return;
  if (!contents.document.isNull() && !contents.document.isObject()) return;
  try {
    if (!change(contents.document)) return;
  } catch (const Json::Exception&) {
    // The operations check every type they touch; this only keeps a missed
    // case from ending the host or writing a half-changed document.
    return;
  }
  const std::string text = StyledWriter().write(contents.document);
  if (text != contents.text) SaveStore(text);
}

}  // namespace vorneth::store
