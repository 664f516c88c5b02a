#include "package/PackageIdentity.h"

#include "core/Exception.h"
#include "os/Guid.h"
#include "package/AppV5Package.h"
#include "package/KnownParts.h"
#include "package/PackageFiles.h"
#include "package/VersionValidator.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"
#include "xml/VersionNumber.h"

namespace quendle {
namespace {

constexpr const char* IdentitySelector = "appx:Identity";

std::shared_ptr<MsXmlDomElement> identityOf(MsXmlDomDocument& manifest) {
    const auto root = manifest.GetDocumentElement();
    if (!root || root->IsEmpty())
        throw Exception(Msg::NullPointer);
    return root->SelectSingleElement(IdentitySelector);
}

bool isGuidValue(std::string_view value) {
    return isBracedGuidText("{" + std::string(value) + "}");
}

std::shared_ptr<MsXmlDomDocument> manifestOf(AppV5Package& package) {
    auto manifest = package.getXmlPart(ManifestPart);
    if (!manifest)
        throw Exception(Msg::NullPointer);
    return manifest;
}

// A new id in the letter case the package writes its ids in: the attribute's own, else the other
// id's; lower case when neither shows one.
std::string newIdLike(const MsXmlDomElement& identity, const char* attribute) {
    for (const char* name : {attribute, "appv:PackageId", "appv:VersionId"}) {
        const std::string value = identity.GetAttribute(name);
        const bool upper = value.find_first_of("ABCDEF") != std::string::npos;
        const bool lower = value.find_first_of("abcdef") != std::string::npos;
        if (upper != lower)
            return newGuidString(upper ? GuidCase::Upper : GuidCase::Lower, false);
    }
    return newGuidText();
}

} // namespace

bool isAutoValue(std::string_view value) {
    return equalsIgnoreCaseAscii(value, "auto");
}

std::string newGuidText() {
    return newGuidString(GuidCase::Lower, false);
}

void validateIdentityValues(std::string_view packageId, std::string_view versionId,
                            std::string_view version) {
    for (std::string_view id : {packageId, versionId})
        if (!id.empty() && !isAutoValue(id) && !isGuidValue(id))
            throw Exception(Msg::GuidValueInvalid, id);
    if (!version.empty() && !isAutoValue(version) && !VersionValidator().IsValid(std::string(version)))
        throw Exception(Msg::VersionValueInvalid, version);
}

bool PackageIdentity::update(std::string_view packageId, std::string_view versionId,
                             std::string_view version) {
    const auto identity = identityOf(manifest_);
    if (!identity)
        return false;
    auto set = [&](const char* attribute, uint32_t messageId, const std::string& value) {
        identity->SetAttribute(attribute, value);
        if (onChange_)
            onChange_();
        printChange(formatStringId(messageId, {value}));
    };
    if (!packageId.empty())
        set("appv:PackageId", Msg::IdentityPackageIdUpdated,
            isAutoValue(packageId) ? newIdLike(*identity, "appv:PackageId") : std::string(packageId));
    if (!versionId.empty())
        set("appv:VersionId", Msg::IdentityVersionIdUpdated,
            isAutoValue(versionId) ? newIdLike(*identity, "appv:VersionId") : std::string(versionId));
    if (!version.empty()) {
        std::string value(version);
        if (isAutoValue(version)) {
            VersionNumber number;
            number.Parse(identity->GetAttribute("Version"));
            number.Increment();
            value = number.ToString();
        }
        set("Version", Msg::IdentityVersionUpdated, value);
    }
    return !packageId.empty() || !versionId.empty() || !version.empty();
}

std::string PackageIdentity::versionId() const {
    const auto identity = identityOf(manifest_);
    if (!identity)
        throw Exception(Msg::VersionIdMissing);
    return identity->GetAttribute("appv:VersionId");
}

void updatePackageIdentity(AppV5Package& package, std::string_view packageId, std::string_view versionId,
                           std::string_view version) {
    package.openOnDemand();
    validateIdentityValues(packageId, versionId, version);
    const auto manifest = manifestOf(package);
    PackageIdentity(*manifest, [&package] { package.markModified(); }).update(packageId, versionId, version);
}

std::string packageVersionId(AppV5Package& package) {
    return PackageIdentity(*manifestOf(package)).versionId();
}

} // namespace quendle
