// Frame reading and request routing into a long-lived session.
//
// The input is the byte stream the browser would send: FrameReader cuts it
// into frames (as main does, the body string kept from frame to frame and
// input to input) and a RequestRouter routes each one. Router and session
// are made once, with a "Create", and reused; everything the host writes
// goes through a FrameOutput into a FrameChecker (frame_checker.h), which
// checks every frame's length prefix and strict JSON object.
//
// Checked besides: every page command the router hands to a session is
// answered once, within kAnswerLimit (a missing answer aborts); the host
// commands answer at once (they run on this thread). Between inputs the
// target waits for those answers, so that what the host writes belongs to
// its input, and resets cheaply: when the input changed the store (a host
// command that writes it, or an installation), the store file is removed
// (after an installation, everything in the data folder) and the session
// reads its blocked state again ("IsDomainBlocked"), as a fresh session
// would.
//
// Left out, to keep the run fast and on this machine:
//   - "Create" inside an input (a session of its own, three threads) is
//     routed in one input of kCreateShare, chosen by the input's size, and
//     there once, after the commands before it were answered; elsewhere the
//     frame is read but not routed. After such an input the router is made
//     anew with the base "Create": the next input starts from the same kind
//     of session, and the sessions the router retired end with it instead
//     of piling up.
//   - "InstallAddOns" is routed only when its base path is a text starting
//     with "http://" or "https://" (in one input of kDownloadShare), or not
//     readable as a text at all: any
//     other base path could name a file of this machine, which is read
//     whole up to the package limit (only regular files are read, but the
//     disk has large ones). Downloads fail at once (host_environment.h).
//     Packages themselves are fuzz_package's.
//   - Leaks are looked for once, at exit, after the router has ended, and
//     not after every input (host_environment.h, LeakCheckAtExitOnly): the
//     session keeps what its workers last handled, so an input rarely
//     gives back exactly what it took, and each such input would cost a
//     full leak scan.
//   - No add-on is ever installed, so no instance runs; fuzz_event_callback
//     covers what add-ons call.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "frame/frame_reader.h"
#include "frame_checker.h"
#include "host/message_output.h"
#include "host/request.h"
#include "host/request_router.h"
#include "host_environment.h"
#include "json/json_conversions.h"

namespace {

using vorneth::fuzzing::Fail;

constexpr char kBaseCreate[] =
    R"({"type":"Vorneth-I","command":"Create","portId":"fuzz","url":"https://fuzz.example/page","version":"1.0.0"})";
constexpr char kRefreshBlocked[] =
    R"({"type":"Vorneth-I","command":"IsDomainBlocked","portId":"fuzz","callbackId":"reset"})";
constexpr auto kAnswerLimit = std::chrono::seconds(20);
// The inputs whose size is a multiple of kCreateShare (about one in that
// many, and the same input always) have their "Create" routed. Such an input
// (a session's threads started, the router ended and made anew) costs about
// a hundred others: at one in 32 it took a quarter of the run's time; at one
// in 128 a few percent, and a Create is still routed dozens of times a second.
constexpr size_t kCreateShare = 128;
// Likewise for "InstallAddOns" from an http(s) base: every such command
// starts a download on a worker (the proxy looked up, a connection
// refused), which costs several inputs' time whatever the command held. In
// one input of four, the command with the same parameters is routed; the
// checks before the download are the same in all of them.
constexpr size_t kDownloadShare = 4;

// What the router will do with a request, decided as it decides.
enum class Route { kIgnored, kPage, kInstall, kDownload, kHost, kHostChange, kCreate, kLocalInstall };

// The host commands that change the store (the others only read it).
bool ChangesStore(const std::string& command) {
  for (const char* name : {"SetDomainDenied", "SetDomainAllowed", "RemoveFromPermList", "SetPermissionMode"}) {
    if (command == name) return true;
  }
  return false;
}

bool HttpText(const Json::Value& value) {
  if (!value.isString()) return false;
  const char* begin = nullptr;
  const char* end = nullptr;
  value.getString(&begin, &end);
  const std::string_view text(begin, static_cast<size_t>(end - begin));
  return text.starts_with("http://") || text.starts_with("https://");
}

Route Classify(const vorneth::Request& request) {
  if (!request.m_routable || !request.m_portId || !request.m_type || !request.m_command) return Route::kIgnored;
  const std::string& type = *request.m_type;
  const std::string& command = *request.m_command;
  if (type == "Vorneth-I" && command == "Create") {
    return request.m_url && request.m_version ? Route::kCreate : Route::kIgnored;
  }
  if ((type != "Vorneth-I" && type != "Vorneth") || !request.m_callbackId) return Route::kIgnored;
  if (type == "Vorneth-I") return ChangesStore(command) ? Route::kHostChange : Route::kHost;
  if (command == "InstallAddOns") {
    const Json::Value& basePath = vorneth::Element(request.m_params, 0);
    std::string text;
    if (HttpText(basePath)) return Route::kDownload;
    return vorneth::ReadText(basePath, text) ? Route::kLocalInstall : Route::kInstall;
  }
  return Route::kPage;
}

class SessionHarness {
 public:
  SessionHarness() : m_output([this](const char* data, size_t size) { return m_checker.Write(data, size); }) {
    NewRouter();
  }

  void Run(const uint8_t* data, size_t size) {
    size_t at = 0;
    vorneth::FrameReader reader(
        [&](char* buffer, size_t n) {
          const size_t count = std::min(n, size - at);
          std::memcpy(buffer, data + at, count);
          at += count;
          return count;
        },
        512);
    InputState state;
    state.m_createsRouted = size % kCreateShare == 0;
    state.m_downloadsRouted = size % kDownloadShare == 0;
    while (reader.ReadFrame(m_body)) {
      // A body too costly to parse is the router's to ignore.
      if (!vorneth::ParsedFormFits(m_body)) {
        m_router->Route(m_body);
        continue;
      }
      // Parsed once, here; the router takes the parsed request.
      vorneth::Request request = vorneth::ParseRequest(m_body);
      if (Admit(Classify(request), state)) m_router->Route(std::move(request));
    }
    WaitForAnswers();
    Reset(state);
  }

 private:
  // What an input did so far, and what it may do.
  struct InputState {
    bool m_createsRouted = false;
    bool m_downloadsRouted = false;
    bool m_created = false;
    bool m_storeChanged = false;
    bool m_installed = false;
  };

  // Whether a request of `route` is routed, and what routing it will do.
  bool Admit(Route route, InputState& state) {
    switch (route) {
      case Route::kLocalInstall:
        return false;
      case Route::kCreate:
        if (state.m_created || !state.m_createsRouted) return false;
        state.m_created = true;
        // The commands of the session it replaces are answered first.
        WaitForAnswers();
        return true;
      case Route::kDownload:
        if (!state.m_downloadsRouted) return false;
        [[fallthrough]];
      case Route::kInstall:
        state.m_installed = true;
        ++m_pageCommands;
        return true;
      case Route::kPage:
        ++m_pageCommands;
        return true;
      case Route::kHostChange:
        state.m_storeChanged = true;
        return true;
      case Route::kHost:
      case Route::kIgnored:
        return true;
    }
    return true;
  }

  // Brings the data folder and the session back to where an input starts.
  // Host commands write the store file alone; an installation may leave
  // more behind.
  void Reset(const InputState& state) {
    if (state.m_installed) {
      vorneth::fuzzing::EmptyDataFolder();
    } else if (state.m_storeChanged) {
      vorneth::fuzzing::RemoveStoreFile();
    }
    if (state.m_created) {
      NewRouter();
    } else if (state.m_installed || state.m_storeChanged) {
      m_router->Route(kRefreshBlocked);
    }
  }

  // Ending the router joins every session it made.
  void NewRouter() {
    m_router.reset();
    m_router = std::make_unique<vorneth::RequestRouter>(&m_output);
    m_router->Route(kBaseCreate);
  }

  void WaitForAnswers() {
    if (!m_checker.WaitForAnswers(m_pageCommands, kAnswerLimit)) {
      Fail("page commands left unanswered:", std::to_string(m_pageCommands - m_checker.answers()));
    }
  }

  vorneth::fuzzing::FrameChecker m_checker;
  vorneth::FrameOutput m_output;
  std::unique_ptr<vorneth::RequestRouter> m_router;
  std::string m_body;
  int64_t m_pageCommands = 0;
};

// Made by LLVMFuzzerInitialize; ended by an exit handler, which runs before
// the leak check at exit.
std::unique_ptr<SessionHarness> g_harness;

void EndHarness() {
  g_harness.reset();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  vorneth::fuzzing::LeakCheckAtExitOnly(argc, argv);
  vorneth::fuzzing::PrepareHostEnvironment("fuzz_session");
  // The download client starts curl (and with it OpenSSL) at the first
  // download, whose exit handler would then run before EndHarness: the
  // workers ended after it would leave their OpenSSL thread state behind,
  // and the leak check at exit report it. Started here, curl's handlers
  // are registered first and run last.
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) Fail("curl_global_init failed");
  g_harness = std::make_unique<SessionHarness>();
  std::atexit(&EndHarness);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_harness->Run(data, size);
  return 0;
}
