#ifndef KORVO_CORE_SETTINGS_APP_INFO_H_
#define KORVO_CORE_SETTINGS_APP_INFO_H_

#include <QString>

#include "core/export.h"

// The fixed names and identifiers of the application. Every function but
// AppDisplayName returns a constant C string that lives as long as the
// library; all may be called from any thread.
namespace AppInfo {

// The translated display name, "Korvo:" untranslated.
KORVO_EXPORT QString AppDisplayName();
KORVO_EXPORT const char* AppName();
KORVO_EXPORT const char* AppShortName();
// The organization under which the application keeps its settings
// (QSettings' organization; AppName is the application).
KORVO_EXPORT const char* OrganizationName();
KORVO_EXPORT const char* HiddenWindowTitle();
// The page of the maker's site that presents the application.
KORVO_EXPORT const char* FeaturesUrl();
KORVO_EXPORT const char* NameConfig();
// The executables of the Windows build.
KORVO_EXPORT const char* NameExeApp();
KORVO_EXPORT const char* NameExeRunnerRaw();
// The same executables in the Linux build.
KORVO_EXPORT const char* NameExeAppLinux();
KORVO_EXPORT const char* NameExeRunnerRawLinux();
KORVO_EXPORT const char* NameLockFile();
// A Windows named mutex (session-local namespace).
KORVO_EXPORT const char* NameSingleInstanceMutex();
KORVO_EXPORT const char* TrayIconNormalName();
// Update checks: the development server (plain HTTP) and the release one.
KORVO_EXPORT const char* UpdateDevUrl();
KORVO_EXPORT const char* UpdateUrl();
KORVO_EXPORT const char* UserAgentSuffix();
KORVO_EXPORT const char* Version();

}  // namespace AppInfo

#endif  // KORVO_CORE_SETTINGS_APP_INFO_H_
