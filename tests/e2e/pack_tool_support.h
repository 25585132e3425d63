// What the vorneth-pack tests share: running the built tool as a process,
// reading the archives it writes with libzip, and checking its signatures
// and digests with the crypto library, independently of the tool's code.
#ifndef VORNETH_TESTS_TOOLS_PACK_TOOL_SUPPORT_H_
#define VORNETH_TESTS_TOOLS_PACK_TOOL_SUPPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/file_bytes.h"
#include "support/scratch_dir.h"

namespace vorneth::testing {

struct ToolRun {
  // None when the tool could not be started or did not end.
  std::optional<int> m_status;
  std::string m_out;
  std::string m_err;
};

// Runs vorneth-pack with `args` to its end; its standard error passes
// through a file in `scratch`, removed again. `environment` changes the
// tool's environment only.
ToolRun RunPackTool(const ScratchDir& scratch, const std::vector<std::string>& args,
                    const std::vector<std::pair<std::string, std::optional<std::string>>>& environment = {});

struct PackedEntry {
  std::string m_name;
  std::string m_content;
  uint8_t m_system = 0;       // the "made by" system of the attributes
  uint32_t m_attributes = 0;  // external attributes
  int64_t m_mtime = 0;        // as libzip reads the MS-DOS time stamp
};

// The entries in central-directory order; none when `bytes` is no archive
// or an entry cannot be read.
std::optional<std::vector<PackedEntry>> ReadZip(const std::string& bytes);
std::vector<std::string> EntryNames(const std::vector<PackedEntry>& entries);
const PackedEntry* FindEntry(const std::vector<PackedEntry>& entries, std::string_view name);

// Whether `hex` is an RSASSA-PKCS1-v1_5 SHA-1 signature of `data` by the
// key whose public half is the PEM file `publicKeyPath`.
bool SignatureVerifies(const std::string& publicKeyPath, std::string_view data, const std::string& hex);
std::string Sha1LowerHex(std::string_view bytes);
// Whether this build's built-in key is the development key the tests sign
// with; verify can only accept their packages then.
bool BuiltWithDevelopmentKey();

inline const std::string kPackTool = VORNETH_PACK_PATH;
inline const std::string kPublicKey = VORNETH_DEVELOPMENT_PUBLIC_KEY;
inline const std::string kPrivateKey = VORNETH_DEVELOPMENT_PRIVATE_KEY;

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_TOOLS_PACK_TOOL_SUPPORT_H_
