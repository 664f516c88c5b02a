#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace quendle {

class AppV5Package;
class MsXmlDomDocument;
struct StationInfo;

// "PackageHistory.xml": who changed the package, when, where and with which tool.
class PackageHistory {
  public:
    static constexpr std::string_view DefaultPackagingEngine = "Quendle";
    static constexpr std::string_view DefaultSequencerVersion = "14.1";

    explicit PackageHistory(MsXmlDomDocument& history, std::function<void()> onChange = {})
        : history_(history), onChange_(std::move(onChange)) {}

    // Appends a `PackageHistoryItem` for this run and prints it. Empty engine and version take
    // the defaults above. Raises 65022 when the document has no root element.
    void appendItem(std::string_view packageVersionId, std::string_view packagingEngine,
                    std::string_view sequencerVersion, const StationInfo& station);

  private:
    MsXmlDomDocument& history_;
    std::function<void()> onChange_;
};

// Checks of the Update-PackageHistory values, before the package is touched: both or neither
// (184), and a valid sequencer version (183).
void validateHistoryValues(std::string_view packagingEngine, std::string_view sequencerVersion);

// Update-PackageHistory: checks, opens the package on demand and appends the item describing
// this machine (65022 when the package has no history or manifest document).
void updatePackageHistory(AppV5Package& package, std::string_view packagingEngine,
                          std::string_view sequencerVersion);

} // namespace quendle
