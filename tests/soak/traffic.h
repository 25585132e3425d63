// The soak traffic: steps of a page's life, each sending a few requests
// to one SoakHost, telling its ledger what they owe (answers with their
// checks, events, style and script), and settling before it returns. A
// step returns false once the host stopped answering; the ledger and the
// host's faults say what went wrong.
//
// Requests that the host runs in parallel (page commands go to three
// dispatch workers and may be answered in any order) are sent together;
// requests whose order matters (registering an event before the command
// that raises it, permission changes before the commands they gate) are
// separated by a settle.
#ifndef VORNETH_TESTS_SOAK_TRAFFIC_H_
#define VORNETH_TESTS_SOAK_TRAFFIC_H_

#include <cstdint>
#include <string>
#include <vector>

#include "soak_host.h"

namespace vorneth::soak {

// A signed package in the packages folder.
struct Package {
  std::string m_file;
  std::string m_uuid;
  std::string m_version;
};

// The packages every host installs from, under one "file" URL.
struct Catalogue {
  std::string m_baseUrl;  // ends with '/'
  Package m_example;      // the SDK's example add-on
  Package m_probe;        // the test add-on of tests/addons/libraries
  Package m_churn;        // a probe variant installed and removed again and again
};

// The page every session is created for, and its origin.
inline constexpr char kPageUrl[] = "https://soak.test/page";
inline constexpr char kPageOrigin[] = "https://soak.test";

// "Create" for the page (a first session, or a new one that replaces it).
void NewSession(SoakHost& host, int serial);
// "InstallAddOns" of `packages` not yet installed: a finish event each, then [200].
bool Install(SoakHost& host, const Catalogue& catalogue, const std::vector<Package>& packages);
// Page and host queries and refusals all at once, with an installation of
// the example, installed before (by Install), among them: [0].
bool Queries(SoakHost& host, const Catalogue& catalogue);
// An example instance: created (style, script, its id), its "tick" event
// registered, `ticks` ticks from its own thread while "add" is invoked,
// then disposed.
bool ExampleInstance(SoakHost& host, const Package& example, int ticks);
// A probe instance, created (style, script, its id; -1 when there is
// none), used (`events` events raised from its thread, an echo, a secure
// text handed over and fetched), disposed. The probe's library hands out at
// most 256 instances per process (tests/addons/libraries/README.md), so a
// long-lived host keeps one instance for many uses.
int32_t CreateProbe(SoakHost& host, const Package& probe);
bool UseProbe(SoakHost& host, int32_t id, int events);
bool Dispose(SoakHost& host, int32_t id, const Package& package);
// All three.
bool ProbeInstance(SoakHost& host, const Package& probe, int events);
// The churn package installed, listed, and removed.
bool InstallAndRemove(SoakHost& host, const Catalogue& catalogue);
// The page's origin denied (page commands refused, "GetVersion" still
// answered), then allowed again and taken off the list.
bool DenyAndAllow(SoakHost& host);
// An example instance left ticking (`ticks` at most, 5 ms apart), for the
// caller to end its session under it by closing the input. The ticks are
// allowed, not owed.
bool LeaveTicking(SoakHost& host, const Package& example, int ticks);

}  // namespace vorneth::soak

#endif  // VORNETH_TESTS_SOAK_TRAFFIC_H_
