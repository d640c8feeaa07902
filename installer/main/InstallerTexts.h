#pragma once

// Every word the installer shows. kHelperAddress stands for the address the
// helper listens on.

inline constexpr const char* kPromptTitle = "Pelagrin Sensor Helper";
inline constexpr const char* kPromptText =
    "This helper runs quietly in the background and provides real CPU temperature and GPU utilization to "
    "Pelagrin.\n\n\u2022 Starts automatically at login\n\u2022 Uses minimal resources\n\u2022 Communicates only "
    "with Pelagrin via localhost";

inline constexpr const char* kConfirmTitle = "Uninstall Sensor Helper?";
inline constexpr const char* kConfirmText =
    "This will stop the helper and remove it from your system. Pelagrin will fall back to network and thermal "
    "state gauges.";

inline constexpr const char* kErrorTitle = "Installation Failed";
inline constexpr const char* kUninstallErrorTitle = "Uninstall Failed";
inline constexpr const char* kSuccessTitle = "Success";

inline constexpr const char* kMissingHelperText = "Could not find the embedded helper app in Resources.";
inline constexpr const char* kCreateDirectoryLead = "Failed to create directory:\n";
inline constexpr const char* kCopyHelperLead = "Failed to copy helper app:\n";
inline constexpr const char* kBadSignatureLead = "The copied helper app's code signature is not valid (error ";
inline constexpr const char* kBadSignatureAdvice = ").\n\nThe installer may be damaged: download it again.";
inline constexpr const char* kUnsignedBuildAdvice =
    ").\n\nThis installer is an unsigned development build: sign it with packaging/sign.sh, then run the signed "
    "copy in dist/.";
inline constexpr const char* kDownloadMarkLead = "Failed to clear the helper app's download mark:\n";
inline constexpr const char* kRemoveHelperLead = "Failed to remove helper app:\n";
inline constexpr const char* kStillThere = "It is still there.";
inline constexpr const char* kStartFailureAdvice = ").\n\nTry logging out and back in.";
inline constexpr const char* kMaybeTurnedOffAdvice =
    ").\n\nIf Pelagrin Sensor Helper is turned off in System Settings \u203a General \u203a Login Items, turn it "
    "on there and run this installer again. Otherwise, try logging out and back in.";
inline constexpr const char* kTurnedOffText =
    "Pelagrin Sensor Helper is turned off in System Settings \u203a General \u203a Login Items. Turn it on there, "
    "then run this installer again.";
inline constexpr const char* kStopCannotRunLead = "Could not stop the running helper: ";
inline constexpr const char* kNothingListensText =
    "Helper installed but not running: nothing listens on __HELPER_ADDRESS__.\n\nIt stopped at once or never started.";
inline constexpr const char* kHeldByLead = "Helper installed but not running: __HELPER_ADDRESS__ is held by ";
inline constexpr const char* kCannotTellLead = "Helper installed, but who holds __HELPER_ADDRESS__ cannot be told: ";
inline constexpr const char* kOddAnswerLead = "Helper installed, but instead of its telemetry line it answered \"";
inline constexpr const char* kFourClientsText =
    "Helper installed, but __HELPER_ADDRESS__ turned the connection away at once: the helper there already serves four "
    "clients.";
inline constexpr const char* kSilentLead =
    "Helper installed, but the program on __HELPER_ADDRESS__ sent no line within ";
inline constexpr const char* kInstalledText =
    "Sensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and switch to real CPU "
    "temperature and GPU utilization.";
inline constexpr const char* kEarlierStaysText = "\n\nThe earlier helper stays installed as it was.";
inline constexpr const char* kEarlierBackText =
    "\n\nThe new helper was taken out again: the earlier one is installed as it was.";
inline constexpr const char* kEarlierRunsText =
    "\n\nThe new helper was taken out again: the earlier one is installed and running as it was.";
inline constexpr const char* kEarlierStoppedLead =
    "\n\nThe new helper was taken out again and the earlier one put back, but it did not start again: ";
inline constexpr const char* kEarlierLostLead = "\n\nThe earlier helper could not be put back:\n";
inline constexpr const char* kUninstalledText =
    "Sensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal state gauges.";
inline constexpr const char* kNotInstalledText = "Sensor Helper is not installed: there is nothing to uninstall.";
