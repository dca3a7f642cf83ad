// A message by name. msg::kNAME (generated from src/util/messages/names.txt
// into util/messagenames.h) is the message's English identifier (1000 + its
// number) and carries in its type how many arguments its text takes (its
// %s, %d, %u, %x and %X, the same in every language). Code that formats a
// message given this way has the count checked when it compiles; a message
// converts to its plain identifier where an int is taken.
#pragma once

namespace corv {

// A message whose text takes `ArgCount` arguments: one of the names, or one
// picked from names of the same count (Either, or a table).
template <int ArgCount>
struct Message {
  int id;
  constexpr operator int() const { return id; }
};

template <int Id, int ArgCount>
struct NamedMessage : Message<ArgCount> {
  constexpr NamedMessage() : Message<ArgCount>{Id} {}
};

// `first` ? `a` : `b`, for two messages that take the same arguments.
template <int ArgCount>
constexpr Message<ArgCount> Either(bool first, Message<ArgCount> a, Message<ArgCount> b) {
  return first ? a : b;
}

// The identifier of `message`, to be formatted with `args`: a count of
// arguments its text does not take does not compile.
template <int ArgCount, typename... Args>
constexpr int CheckedMessage(Message<ArgCount> message, const Args&...) {
  static_assert(sizeof...(Args) == ArgCount, "the message's text takes another number of arguments");
  return message.id;
}

}  // namespace corv
