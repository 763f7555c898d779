// What start-up writes into the profile file: the first-run values of a new installation and
// the keys that older profile files lack.
#pragma once

namespace tessarine {

class CProfileStore;

// Writes the first-run value of every key of the settings table (settings/setting_table.h), in
// table order, with one file replacement. 0, or -1 when the file cannot be written (it then
// stays as it was).
int WriteFirstRunSettings(CProfileStore& store);

// Adds what older versions did not write, as the settings table marks it: "IsDeletedFileBackup"
// as "FALSE" when missing, "BackupErrorMaxCount" as 10 when missing or -1. Other lines stay as
// they are; a file that needs nothing is not rewritten. 0, or -1 when the file cannot be
// written.
int UpgradeProfile(CProfileStore& store);

}  // namespace tessarine
