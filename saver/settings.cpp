#include "saver/settings.h"

#include "host/host_api.h"
#include "resources/resource_ids.h"

SaverSettings saverSettings;
LONG RedrawSpeed = DefaultRedrawSpeed;

namespace {
const char RedrawSpeedKey[] = "Redraw Speed";
const char DecimalFormat[] = "%ld";
}  // namespace

void LocateSettings() {
  LoadStringA(hostState.instanceHandle, IDS_SAVER_NAME, saverSettings.sectionName, sizeof saverSettings.sectionName);
  LoadStringA(hostState.instanceHandle, IDS_SETTINGS_FILE, saverSettings.fileName, sizeof saverSettings.fileName);
}

void ReadRedrawSpeed() {
  RedrawSpeed = static_cast<LONG>(
      GetPrivateProfileIntA(saverSettings.sectionName, RedrawSpeedKey, DefaultRedrawSpeed, saverSettings.fileName));
}

bool WriteRedrawSpeed() {
  char text[16];
  wsprintfA(text, DecimalFormat, RedrawSpeed);
  return WritePrivateProfileStringA(saverSettings.sectionName, RedrawSpeedKey, text, saverSettings.fileName) != FALSE;
}
