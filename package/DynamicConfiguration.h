#pragma once
#include <string>

namespace quendle {

struct ManifestSummary;

// The two configuration files that travel beside a package, "<name>_DeploymentConfig.xml" and
// "<name>_UserConfig.xml", written from the package's manifest as it is now: every application
// and every subsystem enabled, and the extension points of the manifest carried over one for
// one, so that applying the files changes nothing until an administrator edits them.
class DynamicConfiguration {
  public:
    explicit DynamicConfiguration(const ManifestSummary& manifest) : manifest_(manifest) {}

    void writeDeploymentConfig(const std::string& path) const;
    void writeUserConfig(const std::string& path) const;

    // /Export-Config: both files into `folder` (the package's own folder when empty); an
    // existing file is replaced only with `force`.
    static void exportConfigCommand(const std::string& packagePath, const std::string& folder, bool force);

  private:
    const ManifestSummary& manifest_;
};

} // namespace quendle
