// The host's manifest for one browser family: its text as install writes
// it, and the checks of a manifest found on disk, each failed one a finding
// in plain words with its fix and the error the browser then shows.
//
// Stateless functions of their arguments.
#ifndef VORNETH_TOOLS_VORNETH_REGISTER_MANIFEST_H_
#define VORNETH_TOOLS_VORNETH_REGISTER_MANIFEST_H_

#include <string>
#include <vector>

#include "browsers.h"
#include "options.h"

namespace vorneth::reg {

// Which of the browser's errors (browsers.h, BrowserTexts) a problem causes;
// kNone for a problem the browser does not report.
enum class Effect { kNone, kNotFound, kForbidden, kCannotStart, kHostExited };

struct Finding {
  std::string m_problem;  // what is wrong, in plain words
  std::string m_fix;      // what to do about it
  Effect m_effect;
};

// The manifest text for `family`: name, description, the host's absolute
// path, "stdio" and the allowed extensions of `options`; ends in a line
// feed.
std::string ManifestText(Family family, const Options& options);

// What a manifest on disk says, as far as the checks need it.
struct ManifestReading {
  std::vector<Finding> m_findings;
  // The "path" member as written; empty when missing or not a text.
  std::string m_hostPath;
};

// Checks `text`, the manifest of `browser`'s registration, against what a
// browser demands and against the extensions `options` wants allowed. The
// host file itself is checked by the caller.
ManifestReading ReadManifest(const Browser& browser, const std::string& text, const Options& options);

}  // namespace vorneth::reg

#endif  // VORNETH_TOOLS_VORNETH_REGISTER_MANIFEST_H_
