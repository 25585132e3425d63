// The arguments a program was started with, as UTF-8 texts.
//
// On POSIX they are the bytes of argv as given. On Windows argv holds the
// arguments in the narrow code page, which cannot carry every character, so
// they are taken again from the process's wide command line, split by the
// same rules the runtime uses. Thread-safe; never throws except for
// std::bad_alloc.
#ifndef VORNETH_PLATFORM_PROGRAM_ARGUMENTS_H_
#define VORNETH_PLATFORM_PROGRAM_ARGUMENTS_H_

#include <string>
#include <vector>

namespace vorneth {

// The program's name followed by its arguments; `argc` and `argv` are
// main's. Where the wide command line cannot be read or converted, the
// elements of argv are returned as they are.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_PROGRAM_ARGUMENTS_H_
