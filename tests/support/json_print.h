// Failure messages of GoogleTest show JSON values as their styled text
// instead of their bytes. Include it in a test that compares Json::Value.
#ifndef VORNETH_TESTS_SUPPORT_JSON_PRINT_H_
#define VORNETH_TESTS_SUPPORT_JSON_PRINT_H_

#include <json/value.h>

#include <ostream>

#include "json/styled_writer.h"

namespace Json {
inline void PrintTo(const Value& value, std::ostream* out) {
  *out << vorneth::StyledWriter().write(value);
}
}  // namespace Json

#endif  // VORNETH_TESTS_SUPPORT_JSON_PRINT_H_
