// The probe add-on's libraries as the test build makes them, loaded into
// this process: each variant exports exactly its entry points and nothing
// else of its own, and the entry points answer as the probe's protocol says
// (tests/addons/libraries/README.md). The host's use of them is tested end
// to end elsewhere; this catches a broken add-on build before that.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/mutex.h"
#include "vorneth_addon.h"

namespace vorneth {
namespace {

using InitPathEntry = void(VORNETH_ADDON_CALL*)(const char*);
using CreateEntry = int32_t(VORNETH_ADDON_CALL*)(void*, EventCallback);
using DisposeEntry = void(VORNETH_ADDON_CALL*)(int32_t);
using InvokeEntry = const char*(VORNETH_ADDON_CALL*)(int32_t, const char*, const char*);
using EventEntry = bool(VORNETH_ADDON_CALL*)(int32_t, const char*);
using TextEntry = const char*(VORNETH_ADDON_CALL*)();

const char* const kEntryPoints[] = {"onInitPath",      "onCreate",          "onDispose", "onInvoke",
                                    "onRegisterEvent", "onUnregisterEvent", "onGetCSS",  "onGetJS"};

LibraryHandle LoadVariant(const std::string& folder, const std::string& file = "addon.so") {
  return LoadDynamicLibrary(std::string(VORNETH_TEST_ADDONS_DIR) + "/" + folder + "/" + file);
}

// The host side of the callback: records every call as "name data" and
// answers SetSecureData with a handle; everything else with NULL.
struct Recorder {
  Mutex m_lock;
  std::vector<std::string> m_calls GUARDED_BY(m_lock);

  std::vector<std::string> Calls() {
    MutexLock lock(&m_lock);
    return m_calls;
  }
};

const char* VORNETH_ADDON_CALL Record(void* context, const char* name, const char* data) {
  auto* recorder = static_cast<Recorder*>(context);
  MutexLock lock(&recorder->m_lock);
  recorder->m_calls.push_back(std::string(name) + " " + data);
  return std::string(name) == VORNETH_SET_SECURE_DATA ? "17" : nullptr;
}

// The answer of `command` as a string; "<null>" for NULL.
std::string Invoke(const LibraryHandle& library, int32_t instance, const char* command, const char* params) {
  const auto invoke = library.LookupSymbol<InvokeEntry>("onInvoke");
  if (invoke == nullptr) return "<no onInvoke>";
  const char* answer = invoke(instance, command, params);
  return answer == nullptr ? "<null>" : answer;
}

TEST(AddonLibraryProbeTest, EachVariantExportsExactlyItsEntryPoints) {
  const struct {
    const char* m_folder;
    std::vector<std::string> m_exports;
  } variants[] = {
      {"probe", {std::begin(kEntryPoints), std::end(kEntryPoints)}},
      {"minimal", {"onCreate", "onInvoke"}},
      {"create_fails", {std::begin(kEntryPoints), std::end(kEntryPoints)}},
      {"no_create",
       {"onInitPath", "onDispose", "onInvoke", "onRegisterEvent", "onUnregisterEvent", "onGetCSS", "onGetJS"}},
      {"no_invoke", {"onCreate", "onDispose", "onGetCSS", "onGetJS"}},
      {"js_only", {std::begin(kEntryPoints), std::end(kEntryPoints)}},
      {"dependency", {std::begin(kEntryPoints), std::end(kEntryPoints)}},
  };
  for (const auto& variant : variants) {
    SCOPED_TRACE(variant.m_folder);
    const LibraryHandle library = LoadVariant(variant.m_folder);
    ASSERT_TRUE(library);
    for (const char* entry : kEntryPoints) {
      const bool expected =
          std::find(variant.m_exports.begin(), variant.m_exports.end(), entry) != variant.m_exports.end();
      EXPECT_EQ(library.LookupAddress(entry) != nullptr, expected) << entry;
    }
    // The probe's own functions stay hidden.
    EXPECT_EQ(library.LookupAddress("probe_invoke"), nullptr);
    EXPECT_EQ(library.LookupAddress("probe_create"), nullptr);
  }
}

TEST(AddonLibraryProbeTest, ProbeAnswersItsCommandsAndRaisesEvents) {
  const LibraryHandle library = LoadVariant("probe");
  ASSERT_TRUE(library);
  Recorder host;
  Recorder other_host;
  library.LookupSymbol<InitPathEntry>("onInitPath")("/data/addons/u/1.0/");
  const int32_t first = library.LookupSymbol<CreateEntry>("onCreate")(&host, Record);
  const int32_t second = library.LookupSymbol<CreateEntry>("onCreate")(&other_host, Record);
  ASSERT_GE(first, 7);
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(
      Invoke(library, first, "info", ""),
      "{\"instance\":" + std::to_string(first) +
          ",\"creations\":2,\"initPath\":\"/data/addons/u/1.0/\",\"initBeforeCreate\":true,\"sameContext\":true}");
  EXPECT_EQ(
      Invoke(library, second, "info", ""),
      "{\"instance\":" + std::to_string(second) +
          ",\"creations\":2,\"initPath\":\"/data/addons/u/1.0/\",\"initBeforeCreate\":false,\"sameContext\":false}");

  EXPECT_EQ(Invoke(library, first, "echo", "[1,\"two\"]"), "[1,\"two\"]");
  EXPECT_EQ(Invoke(library, first, "empty", "x"), "");
  EXPECT_EQ(Invoke(library, first, "null", "x"), "<null>");
  EXPECT_EQ(Invoke(library, first, "broken", ""), "{\"a\":1,");
  EXPECT_EQ(Invoke(library, first, "odd\"\\\n", ""), "{\"unknown\":\"odd\\\"\\\\\\u000a\"}");

  EXPECT_EQ(Invoke(library, first, "raiseHere", "{\"name\":\"tick\",\"count\":2,\"data\":\"d\"}"), "{\"raised\":2}");
  EXPECT_EQ(Invoke(library, first, "raise", "{\"name\":\"tock\", \"count\": 3, \"data\":\"q\\\"\"}"),
            "{\"started\":3}");
  EXPECT_EQ(Invoke(library, first, "join", ""), "{\"joined\":true}");
  EXPECT_EQ(Invoke(library, first, "setSecure", "secret"), "{\"handle\":\"17\"}");
  EXPECT_EQ(Invoke(library, first, "getSecure", "17"), "{\"data\":null}");
  EXPECT_EQ(Invoke(library, first, "lockDll", ""), "{\"locked\":true}");
  EXPECT_EQ(host.Calls(), (std::vector<std::string>{"tick d#0", "tick d#1", "tock q\"#0", "tock q\"#1", "tock q\"#2",
                                                    "SetSecureData secret", "GetSecureData 17", "AckGetSecureData 17",
                                                    "LockDllDirectory ", "UnlockDllDirectory "}));
  EXPECT_TRUE(other_host.Calls().empty()) << "events go to their own instance's host only";

  EXPECT_TRUE(library.LookupSymbol<EventEntry>("onRegisterEvent")(first, "tick"));
  EXPECT_FALSE(library.LookupSymbol<EventEntry>("onRegisterEvent")(first, "refuse"));
  EXPECT_FALSE(library.LookupSymbol<EventEntry>("onUnregisterEvent")(first, "refuse"));
  EXPECT_STREQ(library.LookupSymbol<TextEntry>("onGetCSS")(), ".probe{color:red}");
  EXPECT_STREQ(library.LookupSymbol<TextEntry>("onGetJS")(), "probe.js();");

  // A raise still running is joined by onDispose; a disposed instance is
  // unknown to the library afterwards.
  EXPECT_EQ(Invoke(library, second, "raise", "{\"name\":\"late\",\"count\":2,\"data\":\"x\"}"), "{\"started\":2}");
  library.LookupSymbol<DisposeEntry>("onDispose")(second);
  EXPECT_EQ(other_host.Calls(), (std::vector<std::string>{"late x#0", "late x#1"}));
  EXPECT_EQ(Invoke(library, second, "echo", "1"), "<null>");
  library.LookupSymbol<DisposeEntry>("onDispose")(first);
}

TEST(AddonLibraryProbeTest, VariantsChangeWhatTheyAnswer) {
  Recorder host;
  const LibraryHandle fails = LoadVariant("create_fails");
  ASSERT_TRUE(fails);
  EXPECT_EQ(fails.LookupSymbol<CreateEntry>("onCreate")(&host, Record), -1);

  const LibraryHandle js_only = LoadVariant("js_only");
  ASSERT_TRUE(js_only);
  EXPECT_EQ(js_only.LookupSymbol<TextEntry>("onGetCSS")(), nullptr);
  EXPECT_STREQ(js_only.LookupSymbol<TextEntry>("onGetJS")(), "probe.js();");

  const LibraryHandle minimal = LoadVariant("minimal");
  ASSERT_TRUE(minimal);
  const int32_t instance = minimal.LookupSymbol<CreateEntry>("onCreate")(&host, Record);
  EXPECT_GE(instance, 0);
  EXPECT_EQ(Invoke(minimal, instance, "echo", "{}"), "{}");
  EXPECT_EQ(Invoke(minimal, instance, "dep", ""), "{\"unknown\":\"dep\"}");
}

// The dependency variant finds its own libprobedep beside itself (run path),
// whatever the current folder holds; the decoy answers differently.
TEST(AddonLibraryProbeTest, DependencyComesFromTheAddonsFolder) {
  Recorder host;
  const LibraryHandle library = LoadVariant("dependency");
  ASSERT_TRUE(library);
  const int32_t instance = library.LookupSymbol<CreateEntry>("onCreate")(&host, Record);
  EXPECT_EQ(Invoke(library, instance, "dep", ""), "{\"dep\":\"addon-folder\"}");

  const LibraryHandle decoy = LoadVariant("dependency_decoy", "libprobedep.so");
  ASSERT_TRUE(decoy);
  ASSERT_NE(decoy, library);
  const auto origin = decoy.LookupSymbol<TextEntry>("probe_dependency_origin");
  ASSERT_NE(origin, nullptr);
  EXPECT_STREQ(origin(), "decoy");
}

}  // namespace
}  // namespace vorneth
