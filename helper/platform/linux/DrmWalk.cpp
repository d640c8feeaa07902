#include "platform/linux/DrmWalk.h"

#include <fcntl.h>

#include "platform/linux/SysfsTree.h"

void walkDrmCards(const std::string& sysfsRoot, const AcceleratorYield& yield) {
  const Directory drmClass(AT_FDCWD, (sysfsRoot + "/class/drm").c_str());
  if (!drmClass.isOpen()) return;
  for (const NumberedEntry& entry : numberedEntries(drmClass, "card", "")) {
    const Directory card(drmClass.fd(), entry.name.c_str());
    if (!card.isOpen() || isSuspended(card)) continue;
    const auto busyPercent = readInteger(card, "device/gpu_busy_percent");
    const StatsTable statistics{{"Device Utilization %", busyPercent.value_or(0)}};
    yield(entry.name, busyPercent ? &statistics : nullptr);
  }
}
