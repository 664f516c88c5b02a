#pragma once
#include "hive/RegFileReader.h"

#include <string>
#include <string_view>
#include <vector>

namespace quendle {

class AppV5Package;
class OfflineRegHive;

// Applies the edits of a registry file to a package hive. The roots map onto the hive's own
// top keys: HKEY_LOCAL_MACHINE is REGISTRY\MACHINE, HKEY_CLASSES_ROOT REGISTRY\MACHINE\Software\Classes,
// HKEY_USERS REGISTRY\USER, HKEY_CURRENT_CONFIG the current hardware profile below
// REGISTRY\MACHINE\SYSTEM, and HKEY_CURRENT_USER the one user key the hive has below
// REGISTRY\USER (the package's current-user token when it has none or several). Values keep the
// App-V bits of the value they replace, as Set-RegistryValue keeps them.
class RegistryImport {
  public:
    struct Counts {
        int keysWritten = 0;
        int keysDeleted = 0;
        int valuesSet = 0;
        int valuesDeleted = 0;
    };

    explicit RegistryImport(OfflineRegHive& hive);

    // The hive key path of an edit's key, e.g. REGISTRY\MACHINE\Software\App.
    std::string keyPathOf(const RegFileEdit& edit) const;
    // Deleting what is not there is no error, as with regedit.
    Counts apply(const std::vector<RegFileEdit>& edits);

    // The key that stands for the current user when the hive has no user key of its own.
    static constexpr std::string_view CurrentUserToken = "[{AppVCurrentUserSID}]";

  private:
    OfflineRegHive& hive_;
    std::string currentUserKey_;
};

// Import-Registry: reads the whole file first (65012 when it is missing, 1615 for a line that
// cannot be read), then opens the package and applies every edit; one summary line.
void importRegistryCommand(AppV5Package& package, std::string_view regFilePath);

} // namespace quendle
