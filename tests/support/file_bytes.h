// Whole files as byte strings, read and written by the tests themselves
// (never through the code under test), with every byte kept as it is.
#ifndef VORNETH_TESTS_SUPPORT_FILE_BYTES_H_
#define VORNETH_TESTS_SUPPORT_FILE_BYTES_H_

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace vorneth::testing {

// The file's content; empty when it cannot be read, also when reading
// fails part way (a /proc file of a process that ends meanwhile fails with
// ESRCH). Read with istream::read, which turns such a failure into badbit:
// the stream buffer itself throws, and an istreambuf_iterator would let
// that escape.
inline std::string ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes;
  char buffer[16384];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    bytes.append(buffer, static_cast<size_t>(file.gcount()));
  }
  return file.bad() ? std::string() : bytes;
}

// Replaces the file's content with `bytes`, creating missing parent folders.
inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_FILE_BYTES_H_
