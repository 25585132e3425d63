// A program that sets the C library's numeric locale named by its argument
// and prints, one per line, what printf makes of 2.5 under it and what the
// styled writer makes of it. Exit status 3 when the locale cannot be set,
// 2 when the argument is missing. The locale test runs it with its own
// environment, so that the test process's locale and environment stay as
// they are.
#include <clocale>
#include <cstdio>
#include <string>

#include "json/styled_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (std::setlocale(LC_NUMERIC, argv[1]) == nullptr) return 3;
  char printed[16];
  std::snprintf(printed, sizeof printed, "%.1f", 2.5);
  const std::string written = vorneth::StyledWriter().write(Json::Value(2.5));
  std::printf("%s\n%s\n", printed, written.c_str());
  return 0;
}
