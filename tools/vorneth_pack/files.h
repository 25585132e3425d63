// Whole-file input and output of the tool, with failures that name the file
// and say what went wrong, ready to show to the user.
//
// The tool is built for Linux only, so the output side uses the POSIX calls
// directly. Stateless.
#ifndef VORNETH_TOOLS_VORNETH_PACK_FILES_H_
#define VORNETH_TOOLS_VORNETH_PACK_FILES_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_reader_writer.h"
#include "platform/status.h"

namespace vorneth::pack {

// The whole content of the regular file at `path` (links, folders and
// special files are refused). `what` names the file's role in the message,
// such as "key file". A file of more than `limit` bytes is refused unread.
Status ReadWholeFile(const std::string& path, std::string_view what, std::string& content,
                     uint64_t limit = kNoReadLimit);

// Creates `path` with permission bits `mode` (before the umask) and writes
// `bytes` into it. Fails, leaving whatever is there untouched, when `path`
// names anything already (a dangling link included); a file left half
// written by a failed write is removed.
Status WriteNewFile(const std::string& path, std::string_view bytes, mode_t mode);

// Replaces the file at `path`, or creates it, in one step.
Status ReplaceFile(const std::string& path, const std::string& bytes);

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_FILES_H_
