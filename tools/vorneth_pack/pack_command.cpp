// pack: an add-on folder (or a ready inner archive) into a signed package.
// See main.cpp for the options.
#include <algorithm>
#include <string_view>

#include "addon_folder.h"
#include "addons/package_verifier.h"
#include "commands.h"
#include "files.h"
#include "inner_archive.h"
#include "manifest.h"
#include "platform/file_reader_writer.h"
#include "signing_key.h"
#include "zip_writer.h"

namespace vorneth::pack {
namespace {

constexpr OptionSpec kPackOptions[] = {
    {"key", OptionKind::kValue},
    {"uuid", OptionKind::kValue},
    {"version", OptionKind::kValue},
    {"name", OptionKind::kValue},
    {"description", OptionKind::kValue},
    {"icon", OptionKind::kValue},
    {"manifest-version", OptionKind::kValue},
    {"inner-archive", OptionKind::kValue},
    {"force", OptionKind::kFlag},
    {"allow-unsafe-identity", OptionKind::kFlag},
};

struct PackJob {
  ManifestFields m_fields;
  std::string m_keyPath;
  std::string m_iconPath;
  std::string m_innerArchivePath;  // empty: build it from m_folder
  std::string m_folder;
  std::string m_output;
  bool m_replace = false;
};

// Whether the host could make a folder of this name: not empty, not "." or
// "..", without separators or control bytes. Fails with why not.
Status CheckFolderName(std::string_view what, const std::string& name) {
  const bool controlByte = std::any_of(
      name.begin(), name.end(), [](char byte) { return static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F; });
  if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos || controlByte) {
    return Status::Failed(std::string(what) + " \"" + name +
                          "\" names no safe folder (empty, \".\", \"..\", a separator or a control byte); the host "
                          "refuses it (--allow-unsafe-identity packs it anyway)");
  }
  return Status::Ok();
}

// The job from the parsed command line, or the usage error.
Status ReadJob(const CommandLine& line, PackJob& job) {
  for (const char* required : {"key", "uuid", "version"}) {
    if (!line.Has(required)) return Status::Failed(std::string("pack needs --") + required);
  }
  job.m_keyPath = line.Value("key");
  job.m_fields.m_uuid = line.Value("uuid");
  job.m_fields.m_version = line.Value("version");
  job.m_fields.m_name = line.Value("name");
  job.m_fields.m_description = line.Value("description");
  job.m_iconPath = line.Value("icon");
  job.m_innerArchivePath = line.Value("inner-archive");
  job.m_replace = line.Has("force");
  const std::string manifestVersion = line.Value("manifest-version", "2");
  if (manifestVersion != "1" && manifestVersion != "2") return Status::Failed("--manifest-version is 1 or 2");
  job.m_fields.m_manifestVersion = manifestVersion == "1" ? kUnsignedManifestVersion : kSignedManifestVersion;
  const size_t wanted = job.m_innerArchivePath.empty() ? 2 : 1;
  if (line.Positional().size() != wanted) {
    return Status::Failed(wanted == 2 ? "pack takes ADDON_DIR OUT.pkg"
                                      : "pack with --inner-archive takes OUT.pkg only");
  }
  if (wanted == 2) job.m_folder = line.Positional()[0];
  job.m_output = line.Positional().back();
  if (line.Has("allow-unsafe-identity")) return Status::Ok();
  if (Status uuid = CheckFolderName("uuid", job.m_fields.m_uuid); !uuid.ok()) return uuid;
  return CheckFolderName("version", job.m_fields.m_version);
}

// "addon.zip": the given file, or the folder packed.
Status InnerArchiveBytes(const PackJob& job, const SigningKey& key, std::string& bytes) {
  if (!job.m_innerArchivePath.empty()) return ReadWholeFile(job.m_innerArchivePath, "inner archive", bytes);
  AddOnFolder folder;
  if (Status read = ReadAddOnFolder(job.m_folder, folder); !read.ok()) return read;
  return InnerArchive(folder, key, bytes);
}

Status PackageBytes(PackJob& job, const SigningKey& key, std::string& bytes) {
  std::string inner;
  if (Status made = InnerArchiveBytes(job, key, inner); !made.ok()) return made;
  if (!job.m_iconPath.empty()) {
    if (Status read = ReadWholeFile(job.m_iconPath, "icon file", job.m_fields.m_icon); !read.ok()) return read;
  }
  std::string manifest;
  if (Status made = ManifestText(job.m_fields, inner, key, manifest); !made.ok()) return made;
  ZipWriter writer;
  Status added = writer.AddFile(kManifestFile, std::move(manifest));
  if (added.ok()) added = writer.AddFile(kInnerArchiveFile, std::move(inner));
  const bool iconFile = job.m_fields.m_manifestVersion == kUnsignedManifestVersion && !job.m_iconPath.empty();
  if (added.ok() && iconFile) added = writer.AddFile(kIconFile, job.m_fields.m_icon);
  if (!added.ok()) return added;
  return writer.Finish(bytes);
}

}  // namespace

int RunPack(const Arguments& args) {
  CommandLine line;
  if (const std::optional<int> status = ParseArguments(args, kPackOptions, line)) return *status;
  PackJob job;
  if (Status read = ReadJob(line, job); !read.ok()) return ReportUsage(read);
  // Refused before any work; WriteNewFile checks again when it creates it.
  if (!job.m_replace && FileReaderWriter::Exists(job.m_output)) {
    return Report(Status::Failed(job.m_output + ": already exists; not overwritten (--force replaces it)"),
                  kExitFailure);
  }
  SigningKey key;
  if (Status loaded = SigningKey::Load(job.m_keyPath, key); !loaded.ok()) return Report(loaded, kExitFailure);
  std::string package;
  if (Status made = PackageBytes(job, key, package); !made.ok()) return Report(made, kExitFailure);
  const Status written = job.m_replace ? ReplaceFile(job.m_output, package) : WriteNewFile(job.m_output, package, 0644);
  return written.ok() ? kExitOk : Report(written, kExitFailure);
}

}  // namespace vorneth::pack
