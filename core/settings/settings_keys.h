#ifndef KORVO_CORE_SETTINGS_SETTINGS_KEYS_H_
#define KORVO_CORE_SETTINGS_SETTINGS_KEYS_H_

#include <QString>

// The names of the keys the application keeps in utils::Settings. Each unit
// that includes this header has its own copy. Inside the library: "email"
// names the account whose email-dependent keys are set up; the login
// controller keeps "refreshToken" and "tsaToken"; the WebDAV credentials
// persist "login", "pwd", "srv" and "t_refresh"; "-noballoon" is also a
// command-line switch of the autostart link. The types and defaults of the
// other keys belong to the application.
namespace utils {

const QString kSettingsAllowBackupRemoteDeletion = QStringLiteral("allowBackupRemoteDeletion");
const QString kSettingsAllowMountForAllUsers = QStringLiteral("allowMountForAllUsers");
const QString kSettingsFirstRunDate = QStringLiteral("firstRunDate");
const QString kSettingsBackups = QStringLiteral("backups");
const QString kSettingsBinaryRunPath = QStringLiteral("binaryRunPath");
const QString kSettingsClientId = QStringLiteral("clientId");
const QString kSettingsCrashDumpMetricSent = QStringLiteral("crashDumpMetricSent");
const QString kSettingsDisableAutoMountDrivesOnStart = QStringLiteral("disableAutoMountDrivesOnStart");
const QString kSettingsDisks = QStringLiteral("disks");
const QString kSettingsEmail = QStringLiteral("email");
const QString kSettingsEnableNotifications = QStringLiteral("enableNotifications");
const QString kSettingsFolder = QStringLiteral("folder");
const QString kSettingsForceMountAsNetworkDrive = QStringLiteral("forceMountAsNetworkDrive");
const QString kSettingsIncreaseInterval = QStringLiteral("-increaseInterval");
const QString kSettingsInodeIsSupportedPreviousRun = QStringLiteral("inodeIsSupportedPreviousRun");
const QString kSettingsInstallationId = QStringLiteral("installationId");
const QString kSettingsInstallerIntro = QStringLiteral("installer_intro");
const QString kSettingsLanguage = QStringLiteral("language");
const QString kSettingsMinRateLimitSec = QStringLiteral("minRateLimitSec");
const QString kSettingsMobileBalloon = QStringLiteral("mobileBalloon");
const QString kSettingsMobileCheck = QStringLiteral("mobileCheck");
const QString kSettingsNoBalloon = QStringLiteral("-noballoon");
const QString kSettingsKeyNotFirstRun = QStringLiteral("keyNotFirstRun");
const QString kSettingsPauseBalloonEnabled = QStringLiteral("pauseBalloonEnabled");
const QString kSettingsPauseBalloonInterval = QStringLiteral("pauseBalloonInterval");
const QString kSettingsProxy = QStringLiteral("proxy");
const QString kSettingsRefreshToken = QStringLiteral("refreshToken");
const QString kSettingsRunBackupsWithBackgroundPriority = QStringLiteral("runBackupsWithBackgroundPriority");
const QString kSettingsSandBoxToken = QStringLiteral("SandBoxToken");
const QString kSettingsSendingCrashDumpAttempt = QStringLiteral("sendingCrashDumpAttempt");
const QString kSettingsSync = QStringLiteral("sync");
const QString kSettingsTsaToken = QStringLiteral("tsaToken");
const QString kSettingsUpdated = QStringLiteral("-updated");
const QString kSettingsValidFinish = QStringLiteral("validfinish");
const QString kSettingsLastTimeContent = QStringLiteral("lastTimeContent");
const QString kSettingsLastTime = QStringLiteral("lastTime");

// Fields of persisted credentials.
const QString kSettingsLogin = QStringLiteral("login");
const QString kSettingsPwd = QStringLiteral("pwd");
const QString kSettingsSrv = QStringLiteral("srv");
const QString kSettingsTRefresh = QStringLiteral("t_refresh");

}  // namespace utils

#endif  // KORVO_CORE_SETTINGS_SETTINGS_KEYS_H_
