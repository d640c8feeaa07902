#include "PortHolder.h"

namespace {

// A process may name itself anything, control characters included.
std::string shownSafely(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (const char byte : bytes) {
    const auto code = static_cast<unsigned char>(byte);
    if (code >= 0x20 && code < 0x7f && code != '\\') {
      shown += byte;
    } else {
      shown += {'\\', 'x', kHex[code >> 4], kHex[code & 0xf]};
    }
  }
  return shown;
}

std::string whose(const PortHolder& holder) {
  if (!holder.uid) return "another user";
  const std::string uid = std::to_string(*holder.uid);
  return holder.kind == PortHolder::Kind::ThisUser ? "this user (uid " + uid + ")" : "user " + uid;
}

}  // namespace

PortHolder cannotTell(std::string reason) {
  return {.kind = PortHolder::Kind::CannotTell, .uid = {}, .pid = {}, .program = {}, .reason = std::move(reason)};
}

std::string describe(const PortHolder& holder) {
  switch (holder.kind) {
    case PortHolder::Kind::Nobody: return "nothing";
    case PortHolder::Kind::CannotTell: return "cannot tell who; why: " + holder.reason;
    case PortHolder::Kind::ThisUser:
    case PortHolder::Kind::OtherUser: break;
  }
  const std::string pid = holder.pid ? std::to_string(*holder.pid) : "";
  if (holder.program)
    return shownSafely(*holder.program) + (holder.pid ? " (pid " + pid + ")" : "") + " of " + whose(holder);
  if (holder.pid) return "process " + pid + " of " + whose(holder);
  return "a process of " + whose(holder) + ", whose pid and program may not be read";
}
