// What the file-service tests share: reference reading and writing through
// the standard library alone, ReadFile's outcome as one comparable string,
// and questions about the records the recording trace library kept.
// Header-only; used by the portable file tests and by their POSIX-only half.
#ifndef VORNETH_TESTS_PLATFORM_FILE_TEST_SUPPORT_H_
#define VORNETH_TESTS_PLATFORM_FILE_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>

#include "platform/file_reader_writer.h"
#include "platform/status.h"
#include "support/file_bytes.h"
#include "support/trace_recorder.h"

namespace vorneth::testing {

inline constexpr std::string_view kOpenError =
    "FileReaderWriter::ReadFile - ERROR - Vorneth ReadFile failed to open file";
inline constexpr std::string_view kOpenedScope = "FileReaderWriter::WriteFile file is opened for writing";

// Every byte value, three times over.
inline std::string AllByteValues() {
  std::string bytes;
  for (int round = 0; round < 3; ++round)
    for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
  return bytes;
}

// ReadFile's content, or "<absent>" / "<failed>".
inline std::string Read(const std::string& path) {
  std::string content;
  switch (FileReaderWriter::ReadFile(path, content)) {
    case FileRead::kRead:
      return content;
    case FileRead::kAbsent:
      return "<absent>";
    case FileRead::kTooLarge:
      return "<too large>";
    case FileRead::kFailed:
      break;
  }
  return "<failed>";
}

inline bool ScopeHasName(std::string_view scope, std::string_view name) {
  for (const auto& record : TraceRecords())
    if (record.scope == scope && record.name == name) return true;
  return false;
}

inline bool ScopeEntered(std::string_view scope) {
  for (const auto& record : TraceRecords())
    if (record.kind == "enter" && record.scope == scope) return true;
  return false;
}

inline bool ScopeHasText(std::string_view scope, std::string_view name, std::string_view value) {
  for (const auto& record : TraceRecords())
    if (record.kind == "text" && record.scope == scope && record.name == name && record.value == value) return true;
  return false;
}

}  // namespace vorneth::testing

#define ASSERT_OK(expression)                       \
  do {                                              \
    const ::vorneth::Status status_ = (expression); \
    ASSERT_TRUE(status_.ok()) << status_.why();     \
  } while (false)

// A failure must say why.
#define EXPECT_FAILED(expression)                   \
  do {                                              \
    const ::vorneth::Status status_ = (expression); \
    EXPECT_FALSE(status_.ok());                     \
    EXPECT_FALSE(status_.why().empty());            \
  } while (false)

#endif  // VORNETH_TESTS_PLATFORM_FILE_TEST_SUPPORT_H_
