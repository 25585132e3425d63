#!/usr/bin/env python3
"""The includes of src/, tools/ and quenlog/, against the layers and the links.

    check_layers.py [--root DIR]

Prints one line per include that breaks a rule,
    <file>:<line>: <library> includes <header> (<why>)
and exits with 1 when there is one, 0 otherwise (2 when the build files
cannot be read). Only quoted includes count; <...> ones are the system's.

The rules, and where the script takes them from:

Layers. The folders of src/ in the order the top-level CMakeLists.txt adds
them (add_subdirectory), lowest first. A file of src/<folder> includes
headers of its own folder or of earlier ones, never of later ones; tools/
and quenlog/ sit above every folder of src/.

Libraries. The targets that the CMakeLists.txt files of src/, tools/ and
quenlog/ declare (vorneth_library, vorneth_module, add_library,
add_executable) with their sources and links (LINK of vorneth_library and
vorneth_module, target_link_libraries). An
include must name a header of the including file's own library or of a
library it links, directly or through the PUBLIC links of those (the LINK
of vorneth_library is PUBLIC); a PRIVATE link is its library's alone.
What is declared under if(WIN32) or in a WIN32 list counts for Windows
only, what under if(NOT WIN32), else() or a POSIX list for Linux only; a
file is checked for each platform it is compiled on.

Which library a file belongs to:
  - a .cpp: the library that compiles it;
  - a header x.h (or x_posix.h, x_win32.h): the library that compiles x.cpp,
    x_posix.cpp or x_win32.cpp of its folder; x_native.h goes with x, whose
    two halves it joins;
  - any other header: the only library that compiles sources of its folder;
    in a folder of several libraries, the one named after the folder
    (vorneth_<folder>), unless HEADER_OWNERS names another;
  - the generated headers: the interface libraries of GENERATED_HEADERS.
A file that none of these place is itself a finding (its includes cannot
be checked).
Includes are looked up as the compiler does for quotes: the including
file's folder, then src/, tools/ and quenlog/; a header found nowhere there
(the SDK's, the system's) is outside the check.
"""

import argparse
import os
import re
import sys

POSIX = "Linux"
WINDOWS = "Windows"
BOTH = frozenset((POSIX, WINDOWS))

# Folders checked, and where quoted includes are looked up after the
# including file's own folder.
CHECKED_FOLDERS = ("src", "tools", "quenlog")
INCLUDE_ROOTS = ("src", "tools", "quenlog")

# Headers without a source of their own, in a folder of several libraries,
# that belong to another library than the one named after the folder.
HEADER_OWNERS = {
    # The system's HTTP services: the interface both sides of the HTTP module
    # share (declared beside the functions of one side), and the platform
    # files' internals.
    "src/net/http_services.h": "vorneth_http_services",
    "src/net/http_transport.h": "vorneth_http_services",
    "src/net/proxy_settings.h": "vorneth_http_services",
    "src/net/http_transport_curl.h": "vorneth_http_system",
    "src/net/windows_secret.h": "vorneth_http_system",
    "src/net/winhttp_win32.h": "vorneth_http_system",
}

# Headers that CMake writes into the build folder, and the interface
# library that puts them on the include path.
GENERATED_HEADERS = {
    "vorneth_version.h": "vorneth_version",
    "vorneth_public_key.h": "vorneth_public_key",
}

UNOWNED = (
    "no target compiles it, or it is a header of a folder of several libraries,"
    " none named after the folder, without a line in HEADER_OWNERS; its includes are not checked"
)
SOURCE_SUFFIXES = (".cpp", ".h")
HALF_SUFFIXES = ("_posix", "_win32")
INCLUDE_LINE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
COMMAND = re.compile(r"([A-Za-z_][A-Za-z0-9_]*)\s*\(")
ARGUMENT = re.compile(r'"((?:[^"\\]|\\.)*)"|([^\s"]+)')
VARIABLE = re.compile(r"\$\{([A-Za-z0-9_]+)\}")
GENERATOR_EXPRESSION_PARTS = re.compile(r"[$<>:,]+")


class BuildFileError(Exception):
    pass


class Target:
    def __init__(self, name, folder, platforms):
        self.name = name
        self.folder = folder  # of the CMakeLists.txt that declares it
        self.platforms = platforms
        self.sources = {}  # path -> platforms it is compiled on
        self.links = []  # (name, public, platforms)


def strip_comments(text):
    lines = []
    for line in text.splitlines():
        quoted = False
        for index, char in enumerate(line):
            if char == '"':
                quoted = not quoted
            elif char == "#" and not quoted:
                line = line[:index]
                break
        lines.append(line)
    return "\n".join(lines)


def cmake_commands(text, path):
    """(name, argument text) of each command, in order."""
    text = strip_comments(text)
    position = 0
    while True:
        match = COMMAND.search(text, position)
        if not match:
            return
        depth, index, quoted = 1, match.end(), False
        while depth and index < len(text):
            if text[index] == '"' and text[index - 1] != "\\":
                quoted = not quoted
            elif not quoted:
                depth += {"(": 1, ")": -1}.get(text[index], 0)
            index += 1
        if depth:
            raise BuildFileError(f"{path}: unbalanced parentheses after {match.group(1)}")
        yield match.group(1).lower(), text[match.end() : index - 1]
        position = index


class BuildFiles:
    """The targets of the checked folders, read from their CMakeLists.txt."""

    def __init__(self, root):
        self.root = root
        self.targets = {}
        self.layers = []
        self.variables = {}  # name -> [(value, platforms)]
        self.read_top_level()

    def read_top_level(self):
        path = os.path.join(self.root, "CMakeLists.txt")
        subfolders = []
        for name, arguments in cmake_commands(read_text(path), path):
            words = arguments.split()
            if name == "add_subdirectory" and words:
                subfolders.append(words[0])
        self.layers = [folder[len("src/") :] for folder in subfolders if folder.startswith("src/")]
        if not self.layers:
            raise BuildFileError(f"{path}: adds no folder of src/")
        for folder in subfolders:
            if folder.split("/")[0] in CHECKED_FOLDERS:
                self.read_folder(folder, BOTH)

    def read_folder(self, folder, platforms):
        """Reads a CMakeLists.txt; its variables end with it, as in CMake."""
        path = os.path.join(self.root, folder, "CMakeLists.txt")
        outer_variables = self.variables
        self.variables = dict(outer_variables)
        branches = [platforms]  # the platforms of each open if(), innermost last
        for name, arguments in cmake_commands(read_text(path), path):
            if name in ("if", "elseif", "else", "endif"):
                self.follow_condition(name, arguments, branches, path)
                continue
            words = self.expand(arguments, folder, branches[-1])
            handler = getattr(self, "command_" + name, None)
            if handler and words:
                handler(folder, words, branches[-1])
        self.variables = outer_variables

    @staticmethod
    def follow_condition(name, condition, branches, path):
        if name == "endif":
            if len(branches) < 2:
                raise BuildFileError(f"{path}: endif() without if()")
            branches.pop()
            return
        outer = branches[-2] if name != "if" else branches[-1]
        if name == "else":
            taken = branches[-1]
            branches[-1] = outer - taken if taken != outer else outer
            return
        platforms = {"WIN32": {WINDOWS}, "NOT WIN32": {POSIX}}.get(condition.strip(), BOTH)
        platforms = outer & frozenset(platforms)
        if name == "if":
            branches.append(platforms)
        else:
            branches[-1] = platforms

    def expand(self, arguments, folder, platforms):
        """The words of a command, each with the platforms it holds for."""
        known = {
            "PROJECT_SOURCE_DIR": [(self.root, BOTH)],
            "CMAKE_CURRENT_SOURCE_DIR": [(os.path.join(self.root, folder), BOTH)],
        }
        words = []
        for quoted, plain in ARGUMENT.findall(arguments):
            word = quoted or plain
            match = VARIABLE.search(word)
            values = known.get(match.group(1)) or self.variables.get(match.group(1)) if match else None
            if values is None:
                words.append((word, platforms))
                continue
            for value, value_platforms in values:
                text = word[: match.start()] + value + word[match.end() :]
                words.append((text, platforms & value_platforms))
        return words

    def command_set(self, folder, words, platforms):
        name, values = words[0][0], words[1:]
        values = [(value, held) for value, held in values if value not in ("CACHE", "PARENT_SCOPE")]
        self.variables.setdefault(name, []).extend(values)

    def command_add_subdirectory(self, folder, words, platforms):
        self.read_folder(os.path.join(folder, words[0][0]), platforms)

    def command_vorneth_library(self, folder, words, platforms):
        target = self.declare(words[0][0], folder, platforms)
        section = None
        for word, held in words[1:]:
            if word in ("SOURCES", "POSIX", "WIN32", "LINK"):
                section = word
            elif section == "LINK":
                target.links.extend((name, True, held) for name in link_names(word))
            elif section:
                only = {"POSIX": {POSIX}, "WIN32": {WINDOWS}}.get(section, BOTH)
                self.add_source(target, folder, word, held & frozenset(only))

    def command_vorneth_module(self, folder, words, platforms):
        # vorneth_module(<name> FILE <stem> SOURCES ... LINK ...): its links
        # are its own (PRIVATE).
        target = self.declare(words[0][0], folder, platforms)
        section = None
        for word, held in words[1:]:
            if word in ("FILE", "SOURCES", "LINK"):
                section = word
            elif section == "LINK":
                target.links.extend((name, False, held) for name in link_names(word))
            elif section == "SOURCES":
                self.add_source(target, folder, word, held)

    def command_add_library(self, folder, words, platforms):
        kinds = ("STATIC", "SHARED", "MODULE", "OBJECT", "INTERFACE", "EXCLUDE_FROM_ALL")
        if any(word in ("IMPORTED", "ALIAS") for word, _ in words):
            return
        target = self.declare(words[0][0], folder, platforms)
        for word, held in words[1:]:
            if word not in kinds:
                self.add_source(target, folder, word, held)

    def command_add_executable(self, folder, words, platforms):
        target = self.declare(words[0][0], folder, platforms)
        for word, held in words[1:]:
            if word not in ("WIN32", "MACOSX_BUNDLE", "EXCLUDE_FROM_ALL"):
                self.add_source(target, folder, word, held)

    def command_target_sources(self, folder, words, platforms):
        target = self.targets.get(words[0][0])
        for word, held in words[1:] if target else []:
            if word not in ("PRIVATE", "PUBLIC", "INTERFACE"):
                self.add_source(target, folder, word, held)

    def command_target_link_libraries(self, folder, words, platforms):
        target = self.targets.get(words[0][0])
        public = True
        for word, held in words[1:] if target else []:
            if word in ("PUBLIC", "INTERFACE", "PRIVATE"):
                public = word != "PRIVATE"
            else:
                target.links.extend((name, public, held) for name in link_names(word))

    def declare(self, name, folder, platforms):
        """A new target; one declared again (as in both branches of an if()) is
        the same one, built on the platforms of both."""
        target = self.targets.setdefault(name, Target(name, folder, frozenset()))
        target.platforms = target.platforms | platforms
        return target

    def add_source(self, target, folder, word, platforms):
        if not word.endswith(".cpp"):
            return
        path = os.path.relpath(os.path.join(self.root, folder, word), self.root)
        held = target.sources.get(path, frozenset())
        target.sources[path] = held | (platforms & target.platforms)

    def reach(self, name, platform, public_only=False, seen=None):
        """The libraries whose headers `name` may include on `platform`."""
        seen = set() if seen is None else seen
        seen.add(name)
        target = self.targets.get(name)
        for link, public, held in target.links if target else []:
            if platform in held and (public or not public_only) and link not in seen:
                self.reach(link, platform, True, seen)
        return seen


class Owners:
    """Which library each file of the checked folders belongs to."""

    def __init__(self, build):
        self.build = build
        self.compiled = {}  # .cpp path -> {target name: platforms}
        self.by_folder = {}  # folder -> target names compiling sources there
        for target in build.targets.values():
            for path, platforms in target.sources.items():
                self.compiled.setdefault(path, {})[target.name] = platforms
                self.by_folder.setdefault(os.path.dirname(path), set()).add(target.name)

    def of_source(self, path):
        return self.compiled.get(path, {})

    def of_header(self, path):
        """{target name: platforms} of a header; empty when none is found."""
        if os.path.basename(path) in GENERATED_HEADERS:
            return {GENERATED_HEADERS[os.path.basename(path)]: BOTH}
        platforms = header_platforms(path)
        if path in HEADER_OWNERS:
            return {HEADER_OWNERS[path]: platforms}
        folder, stem = os.path.dirname(path), os.path.basename(path)[: -len(".h")]
        stems = {stem, strip_suffix(stem, "_native")}
        stems |= {strip_suffix(name, half) for name in stems for half in HALF_SUFFIXES}
        candidates = set()
        for name in stems:
            for ending in ("", "_posix", "_win32"):
                candidates |= set(self.compiled.get(os.path.join(folder, name + ending + ".cpp"), {}))
        if not candidates:
            candidates = set(self.by_folder.get(folder, ()))
        local = {name for name in candidates if is_within(folder, self.build.targets[name].folder)}
        candidates = local or candidates
        namesake = "vorneth_" + os.path.basename(folder)
        if len(candidates) > 1 and namesake in candidates:
            candidates = {namesake}
        if len(candidates) != 1:
            return {}
        owner = candidates.pop()
        return {owner: platforms & self.build.targets[owner].platforms}


def link_names(word):
    """The libraries a link item names: itself, or each one a generator
    expression may choose ($<IF:...,a,b> links a or b; both count)."""
    if "$<" not in word:
        return [word]
    return [name for name in GENERATOR_EXPRESSION_PARTS.split(word) if name]


def is_within(path, folder):
    return path == folder or path.startswith(folder + os.sep)


def strip_suffix(text, suffix):
    return text[: -len(suffix)] if text.endswith(suffix) else text


def header_platforms(path):
    stem = os.path.basename(path)[: -len(".h")]
    if stem.endswith("_posix"):
        return frozenset((POSIX,))
    if stem.endswith("_win32"):
        return frozenset((WINDOWS,))
    return BOTH


def read_text(path):
    try:
        with open(path, encoding="utf-8") as file:
            return file.read()
    except OSError as error:
        raise BuildFileError(f"{path}: {error.strerror}") from error


class Checker:
    def __init__(self, root):
        self.root = root
        self.build = BuildFiles(root)
        self.owners = Owners(self.build)
        self.findings = []

    def layer_of(self, path):
        """The rank of a file's layer: its src/ folder's, or above them all."""
        parts = path.split(os.sep)
        if parts[0] == "src" and len(parts) > 2 and parts[1] in self.build.layers:
            return self.build.layers.index(parts[1])
        return len(self.build.layers)

    def layer_name(self, path):
        parts = path.split(os.sep)
        return parts[1] if parts[0] == "src" else parts[0]

    def resolve(self, including, name):
        """The checked file an include names, relative to the root, or None."""
        if name in GENERATED_HEADERS:
            return name
        for folder in (os.path.dirname(including),) + INCLUDE_ROOTS:
            path = os.path.normpath(os.path.join(folder, name))
            if path.split(os.sep)[0] in CHECKED_FOLDERS and os.path.isfile(os.path.join(self.root, path)):
                return path
        return None

    def check_file(self, path):
        owners = self.owners.of_source(path) if path.endswith(".cpp") else self.owners.of_header(path)
        if not owners:
            self.findings.append(f"{path}:1: belongs to no library ({UNOWNED})")
            return
        lines = read_text(os.path.join(self.root, path)).splitlines()
        for number, line in enumerate(lines, 1):
            match = INCLUDE_LINE.match(line)
            header = self.resolve(path, match.group(1)) if match else None
            if header:
                for owner, platforms in sorted(owners.items()):
                    self.check_include(path, number, owner, platforms, match.group(1), header)

    def check_include(self, path, number, owner, platforms, name, header):
        def report(why):
            self.findings.append(f"{path}:{number}: {owner} includes {name} ({why})")

        generated = header in GENERATED_HEADERS
        if path.startswith("src" + os.sep) and not generated and self.layer_of(header) > self.layer_of(path):
            report(f"{self.layer_name(header)} is above {self.layer_name(path)} in the layers")
            return
        header_owners = self.owners.of_header(header)
        if not header_owners:
            return  # reported as a file of its own
        library = next(iter(header_owners))
        missing = sorted(p for p in platforms if library not in self.build.reach(owner, p))
        if missing:
            where = "" if len(missing) == len(BOTH) else " on " + " and ".join(missing)
            report(f"it belongs to {library}, which {owner} does not link{where}")

    def check_tree(self):
        for folder in CHECKED_FOLDERS:
            for directory, subfolders, files in os.walk(os.path.join(self.root, folder)):
                subfolders.sort()
                for name in sorted(files):
                    if name.endswith(SOURCE_SUFFIXES):
                        self.check_file(os.path.relpath(os.path.join(directory, name), self.root))
        return self.findings


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    default_root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--root", default=default_root, help="the checkout (default: this script's)")
    root = os.path.abspath(parser.parse_args().root)
    try:
        findings = Checker(root).check_tree()
    except BuildFileError as error:
        print(f"check_layers: {error}", file=sys.stderr)
        return 2
    for finding in findings:
        print(finding)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
