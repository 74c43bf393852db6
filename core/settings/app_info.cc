#include "core/settings/app_info.h"

#include <QObject>

namespace AppInfo {

QString AppDisplayName() { return QObject::tr("Korvo:"); }

const char* AppName() { return "Korvo"; }

const char* AppShortName() { return "korvo"; }

const char* OrganizationName() { return "Veltra"; }

const char* HiddenWindowTitle() {
  return "E2DCED31-32EB-406B-BCA8-38879C45600D-HDJK6678HBHCAVGL667";
}

const char* FeaturesUrl() { return "https://veltra.com/features/Korvo"; }

const char* NameConfig() { return "Veltra_Korvo"; }

const char* NameExeApp() { return "Korvo.exe"; }

const char* NameExeRunnerRaw() { return "KorvoRunner.exe"; }

const char* NameExeAppLinux() { return "korvo-desktop"; }

const char* NameExeRunnerRawLinux() { return "korvo-runner"; }

const char* NameLockFile() { return "Korvo"; }

const char* NameSingleInstanceMutex() { return "Local\\Korvo-B2B1BF1DA748443A90DD269689C3C5D2"; }

const char* TrayIconNormalName() { return "vt_korvo_tray_icon_normal"; }

const char* UpdateDevUrl() { return "http://update-dev.veltra.com/check/korvo/"; }

const char* UpdateUrl() { return "https://update.veltra.com/check/linux-x64/"; }

const char* UserAgentSuffix() { return "Desktop"; }

const char* Version() { return "20.10.0141"; }

}  // namespace AppInfo
