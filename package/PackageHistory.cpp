#include "package/PackageHistory.h"

#include "core/Exception.h"
#include "os/SourceDateEpoch.h"
#include "os/StationInfo.h"
#include "package/AppV5Package.h"
#include "package/KnownParts.h"
#include "package/PackageFiles.h"
#include "package/PackageIdentity.h"
#include "package/VersionValidator.h"
#include "util/strings/MessageFormat.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"
#include "xml/Namespaces.h"

#include <chrono>
#include <optional>
#include <utility>
#include <vector>

namespace quendle {
namespace {

std::string historyNamespace() {
    return appVNamespace("/appv/2010/PackageHistory");
}

std::string orDefault(std::string_view value, std::string_view fallback) {
    return std::string(value.empty() ? fallback : value);
}

// SOURCE_DATE_EPOCH stands for the clock here as in every other time the save writes.
std::string itemTime(const StationInfo& station) {
    if (std::optional<int64_t> seconds = sourceDateEpoch())
        return formatStationTime(std::chrono::system_clock::time_point(std::chrono::seconds(*seconds)));
    return station.time;
}

} // namespace

void PackageHistory::appendItem(std::string_view packageVersionId, std::string_view packagingEngine,
                                std::string_view sequencerVersion, const StationInfo& station) {
    const auto root = history_.GetDocumentElement();
    if (!root || root->IsEmpty())
        throw Exception(Msg::NullPointer);
    const auto item = root->AppendChildElement("PackageHistoryItem", historyNamespace());
    // The order of the attributes is part of the format readers expect.
    const std::vector<std::pair<const char*, std::string>> attributes = {
        {"Time", itemTime(station)},
        {"PackageVersion", std::string(packageVersionId)},
        {"SequencerVersion", orDefault(sequencerVersion, DefaultSequencerVersion)},
        {"SequencerUser", station.sequencerUser},
        {"SequencingStation", station.sequencingStation},
        {"WindowsVersion", station.windowsVersion},
        {"SystemFolder", station.systemFolder},
        {"WindowsFolder", station.windowsFolder},
        {"UserFolder", station.userFolder},
        {"SystemType", station.systemType},
        {"Processor", station.processor},
        {"LastRebootNormal", station.lastRebootNormal},
        {"TerminalServices", station.terminalServices},
        {"RemoteSession", station.remoteSession},
        {"NetFrameworkVersion", station.netFrameworkVersion},
        {"IEVersion", station.ieVersion},
        {"PackageOSBitness", station.osBitness},
        {"PackagingEngine", orDefault(packagingEngine, DefaultPackagingEngine)},
        {"Locale", station.locale},
        {"InUpgrade", "false"},
        {"SaveMode", "eSave"},
    };
    for (const auto& [name, value] : attributes)
        item->SetAttribute(name, value);
    if (onChange_)
        onChange_();
    printChange(formatStringId(Msg::ElementAddedTo, {PackageHistoryPart}), item->GetXml());
}

void validateHistoryValues(std::string_view packagingEngine, std::string_view sequencerVersion) {
    if (packagingEngine.empty() != sequencerVersion.empty())
        throw Exception(Msg::HistoryPairIncomplete);
    if (!VersionValidator().IsValid(std::string(sequencerVersion)))
        throw Exception(Msg::SequencerVersionInvalid, sequencerVersion);
}

void updatePackageHistory(AppV5Package& package, std::string_view packagingEngine,
                          std::string_view sequencerVersion) {
    validateHistoryValues(packagingEngine, sequencerVersion);
    package.openOnDemand();
    const auto history = package.getXmlPart(PackageHistoryPart);
    if (!history)
        throw Exception(Msg::NullPointer);
    const std::string versionId = packageVersionId(package);
    PackageHistory(*history, [&package] {
        package.markModified();
    }).appendItem(versionId, packagingEngine, sequencerVersion, StationInfo::query());
}

} // namespace quendle
