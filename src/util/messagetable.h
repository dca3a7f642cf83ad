// The generated table of every message in every language, keyed by string
// identifier (base + number).
#pragma once

#include "util/xstring.h"

namespace corv {

struct MessageEntry {
  int id;
  const XChar* text;
};

// The message of identifier `id`, or nullptr.
const XChar* FindMessage(int id);

// The whole table, sorted by identifier.
const MessageEntry* MessageTable(size_t* count);

}  // namespace corv
