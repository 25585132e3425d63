// The two store primitives. Every other operation goes through the
// transaction in store_transaction.h instead, so that its read and its write
// happen under one lock; these are for callers that want the document whole.
#include "store/vorneth_db.h"

#include <string>

#include "json/styled_writer.h"
#include "store/store_transaction.h"

namespace vorneth {

Json::Value VornethDB::ReadVornethDB() { return store::ReadStore(); }

void VornethDB::WriteVornethDB(Json::Value document) {
  const std::string text = StyledWriter().write(document);
  store::StoreLock lock;
  if (lock.exclusive()) store::SaveStore(text);
}

}  // namespace vorneth
