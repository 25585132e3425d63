// The probe add-on's libraries as the test build makes them, loaded into
// this process: each variant exports exactly its entry points and nothing
// else of its own, and the dependency variant finds its own library. What
// the probe answers (tests/addons/libraries/README.md) is tested end to end
// through the host; this catches a broken add-on build before that.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "vorneth_addon.h"

namespace vorneth {
namespace {

using CreateEntry = int32_t(VORNETH_ADDON_CALL*)(void*, EventCallback);
using InvokeEntry = const char*(VORNETH_ADDON_CALL*)(int32_t, const char*, const char*);
using TextEntry = const char*(VORNETH_ADDON_CALL*)();

const char* const kEntryPoints[] = {"onInitPath",      "onCreate",          "onDispose", "onInvoke",
                                    "onRegisterEvent", "onUnregisterEvent", "onGetCSS",  "onGetJS"};

LibraryHandle LoadVariant(const std::string& folder, const std::string& file = "addon.so") {
  return LoadDynamicLibrary(std::string(VORNETH_TEST_ADDONS_DIR) + "/" + folder + "/" + file);
}

const char* VORNETH_ADDON_CALL NoHost(void* /*context*/, const char* /*name*/, const char* /*data*/) {
  return nullptr;
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

// The dependency variant finds its own libprobedep beside itself (run path),
// whatever the current folder holds; the decoy answers differently.
TEST(AddonLibraryProbeTest, DependencyComesFromTheAddonsFolder) {
  const LibraryHandle library = LoadVariant("dependency");
  ASSERT_TRUE(library);
  const int32_t instance = library.LookupSymbol<CreateEntry>("onCreate")(nullptr, NoHost);
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
