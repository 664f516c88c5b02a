#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace quendle {

class AppV5Package;
class MsXmlDomDocument;

// The identity of a package: package id, version id and version on the manifest's `Identity`.
class PackageIdentity {
  public:
    // `onChange` runs after each field that was set, so a later failure keeps earlier changes
    // counted (the package's markModified).
    explicit PackageIdentity(MsXmlDomDocument& manifest, std::function<void()> onChange = {})
        : manifest_(manifest), onChange_(std::move(onChange)) {}

    // Sets each non-empty value: "auto" (any case) makes a new GUID, or for the version the
    // current one plus one. Prints one line per field; returns true when anything changed.
    // A manifest without `Identity` is left alone.
    bool update(std::string_view packageId, std::string_view versionId, std::string_view version);

    // The version id; raises 180 when the manifest has no `Identity`.
    std::string versionId() const;

  private:
    MsXmlDomDocument& manifest_;
    std::function<void()> onChange_;
};

// Checks of the Update-PackageIdentity values, before anything changes: ids are "auto" or a
// GUID without braces (195); the version is "auto" or a version text (196). Empty passes.
void validateIdentityValues(std::string_view packageId, std::string_view versionId, std::string_view version);

// A new GUID in the form the manifest carries: 36 lower-case characters, no braces.
std::string newGuidText();

// True when `value` equals "auto" ignoring the case of A to Z.
bool isAutoValue(std::string_view value);

// Update-PackageIdentity: opens the package on demand, checks the values and updates the
// manifest (65022 when the package has no manifest document).
void updatePackageIdentity(AppV5Package& package, std::string_view packageId, std::string_view versionId,
                           std::string_view version);

// The manifest's version id for the package history (65022 without manifest, 180 without
// `Identity`).
std::string packageVersionId(AppV5Package& package);

} // namespace quendle
