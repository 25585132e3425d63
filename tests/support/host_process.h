// End-to-end harness: the built vorneth-host as a child process, driven over
// real pipes exactly as the browser drives it.
//
// Which host runs: the environment variable VORNETH_HOST_UNDER_TEST when it
// is set (for instance a Windows build), otherwise the vorneth-host of this
// build. VORNETH_HOST_LAUNCHER, when set, holds a launcher command (words
// separated by blanks, for instance an emulator) that is put in front of the
// host's path.
//
// Each HostProcess has a data directory of its own: a fresh temporary folder
// handed to the host as XDG_DATA_HOME, so the store file lands in
// <folder>/Vorneth/vorneth.db. The folder is removed with the object unless
// the caller supplied it (tests/support/scratch_dir.h). A host that does not follow XDG_DATA_HOME (a
// Windows build under wine keeps its data in the emulator's profile) has its
// data directory named in VORNETH_HOST_DATA_DIRECTORY: it is emptied when a
// HostProcess without a data_home option first starts and removed with it,
// so such tests run one at a time.
//
// Every wait is bounded by the timeout given to it. Nothing throws; results
// are return values. One object is used from one thread at a time.
#ifndef VORNETH_TESTS_SUPPORT_HOST_PROCESS_H_
#define VORNETH_TESTS_SUPPORT_HOST_PROCESS_H_

#include <json/value.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/child_process.h"
#include "frame/frame_codec.h"
#include "support/scratch_dir.h"

namespace vorneth::testing {

// The host executable under test (see above); empty when there is none.
std::string HostUnderTestPath();
// The data directory from VORNETH_HOST_DATA_DIRECTORY; empty when unset.
std::string FixedDataDirectory();
// The launcher words from VORNETH_HOST_LAUNCHER; empty when unset.
std::vector<std::string> HostLauncher();
// The "file" URL under which the host under test finds the file at the
// absolute path `path` of this machine: "file://" + path for a host of this
// system, "file:///Z:" + path for a Windows host run through a launcher
// (whose Z: drive is this system's root).
std::string HostFileUrl(const std::string& path);

struct HostProcessOptions {
  // Extra environment for the host, applied after XDG_DATA_HOME (so it may
  // override it); a pair without a value removes the variable. For example
  // LD_LIBRARY_PATH for the recording trace library, QUENLOG_RECORD_FILE.
  std::vector<std::pair<std::string, std::optional<std::string>>> environment;
  // Empty: the host's standard error is the test's. Otherwise a file.
  std::string stderr_path;
  // Empty: HostUnderTestPath().
  std::string host_path;
  // Empty: a fresh temporary folder, removed afterwards. Otherwise this
  // existing folder, left in place (to share a store between hosts).
  std::string data_home;
  // Standard descriptors (0 to 2) the host starts without, as a careless
  // parent might start it.
  std::vector<int> closed_standard_streams;
  // Empty: the test's current folder. Otherwise the folder the host (or its
  // launcher) starts in.
  std::string working_directory;
};

class HostProcess {
 public:
  explicit HostProcess(HostProcessOptions options = {});
  // Kills a host still running and removes the temporary data folder.
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // Starts the host with one browser-style argument. May be called again
  // after a host ended (or to replace a running one, which is killed): the
  // new host gets the same data folder. False with error() on failure.
  bool Start();

  // The options of the next Start: a test may change them between starts
  // (another environment, say) and start the host again.
  HostProcessOptions& options() { return m_options; }

  // The XDG_DATA_HOME folder, the host's data directory inside it, and the
  // store file path. Valid after Start (even a failed one).
  const std::string& data_home() const { return m_dataHome; }
  std::string data_directory() const;
  std::string store_path() const;

  // One request as one frame (4-byte length + the text).
  bool Send(std::string_view json_text);
  // Bytes exactly as given, for malformed or partial frames.
  bool SendRaw(std::string_view bytes);

  // The body of the next frame the host writes, waiting at most `timeout`.
  // nullopt on time-out or once the host closed its output.
  std::optional<std::string> ReadFrame(std::chrono::milliseconds timeout);
  // The next frame parsed as JSON; nullopt also when it is not valid JSON.
  std::optional<Json::Value> ReadJson(std::chrono::milliseconds timeout);
  // Up to `count` frames, all within `timeout` in total.
  std::vector<std::string> ReadFrames(size_t count, std::chrono::milliseconds timeout);
  // True when no whole frame arrives within `timeout` (the end of the
  // host's output counts as none). A frame that does arrive is kept for the
  // next ReadFrame.
  bool ExpectNoFrame(std::chrono::milliseconds timeout);

  // Closes the host's input: the browser closed the port.
  void CloseInput();
  // The host's exit status once it ended within `timeout`, otherwise nullopt.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);
  void Kill();

  // True once the host closed its standard output.
  bool output_ended() const { return m_outputEnded; }
  // Bytes received that do not form a whole frame (0 at a frame boundary).
  size_t partial_bytes() const { return m_decoder.buffered(); }
  const std::string& error() const { return m_error; }

 private:
  // Reads once, waiting at most `timeout`. False on time-out or end.
  bool Fill(std::chrono::milliseconds timeout);
  bool FrameReady() const;

  HostProcessOptions m_options;
  std::unique_ptr<ScratchDir> m_scratch;  // the temporary data folder, if any
  std::string m_dataHome;
  bool m_ownsFixedDirectory = false;  // emptied at start, removed at the end
  ChildProcess m_child;
  FrameDecoder m_decoder;
  bool m_outputEnded = false;
  std::string m_error;
};

// Request texts as the browser extension sends them.
// {"command":"Create","portId":..,"type":"Vorneth-I","url":..,"version":..}
std::string Create(std::string_view url, std::string_view version, std::string_view port_id);
// A page command; `params_json` is inserted as it is (it may be malformed
// on purpose).
std::string PageCommand(std::string_view command, std::string_view params_json, std::string_view callback_id,
                        std::string_view port_id);
// A host command: the same with "type" "Vorneth-I".
std::string HostCommand(std::string_view command, std::string_view params_json, std::string_view callback_id,
                        std::string_view port_id);

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_HOST_PROCESS_H_
