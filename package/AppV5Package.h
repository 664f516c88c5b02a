#pragma once
#include "archive/ExtractProgress.h"
#include "archive/ZipRecords.h"
#include "os/PackageLock.h"
#include "os/FileHandle.h"
#include "package/ExtractionProgress.h"
#include "package/FileTable.h"
#include "package/Workspace.h"
#include "xml/Namespaces.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace quendle {

class MsXmlDomDocument;
class PackageRegistry;
class ZipReader;

// The one package of a run. It is extracted into a private workspace on first use; edits change
// the workspace, the cached XML parts and the hive; save() packs the workspace into a new
// archive and puts it in the place of the package file. Another run on the same package waits
// until this one has ended. The workspace is removed when the object ends, and by the signal
// handler when the run is interrupted.
class AppV5Package : public ExtractProgress {
  public:
    // Part name -> its loaded document; ordered, so the write-back order is the same every run.
    using DocumentCache = std::map<std::string, std::shared_ptr<MsXmlDomDocument>>;

    AppV5Package();
    ~AppV5Package() override;
    AppV5Package(const AppV5Package&) = delete;
    AppV5Package& operator=(const AppV5Package&) = delete;

    // Raises 65012 when there is no such file.
    void setPackagePath(const std::string& path);
    const std::string& packagePath() const { return packagePath_; }

    // Creates the workspace and extracts the package into it (136 when that fails).
    void open();
    // Raises 136 when the package has no manifest.
    void requireManifest();
    // What every package command does first: open and check the manifest, once per run.
    void openOnDemand();
    bool isOpen() const { return opened_; }

    const std::string& workspaceFolder() const { return workspace_.folder(); }
    const std::string& contentFolder() const { return workspace_.contentFolder(); }
    // Where a known part lives in the workspace (whether or not the package has it).
    std::string knownPartPath(std::string_view partName) const;

    FileTable& fileTable() { return fileTable_; }
    const FileTable& fileTable() const { return fileTable_; }

    // The cached document of an editable XML part, loaded on first use; nullptr when the package
    // lacks the part. Other names raise "Config file is not editable.".
    std::shared_ptr<MsXmlDomDocument> getXmlPart(std::string_view partName);
    const DocumentCache& documentCache() const { return documents_; }
    // Namespace URI -> XPath prefix, collected from the root elements of every loaded part.
    NamespaceMap& namespaces() { return namespaces_; }

    // The holder of "Registry.dat"; the hive is opened by the holder on first use.
    PackageRegistry& registry();

    // The package path of a file below `base` (a host path); raises 187 otherwise.
    static PackagePath packagePathOf(const std::string& base, const std::string& file);

    void markModified() { modified_ = true; }
    bool isModified() const { return modified_; }

    // Writes back the XML parts (with the schema checks), saves the hive, packs a new archive and
    // replaces the package file with it, then prints the success line. A failure is presented
    // here and leaves the package file as it was; the result is then that failure's exit code,
    // otherwise 0.
    uint32_t save();

    // ExtractProgress: the progress line of opening the package (the reader's bytes).
    void setRange(int operation, int64_t total, int reserved) override {
        opening_.setRange(operation, total, reserved);
    }
    void finish(int operation, int reserved) override { opening_.finish(operation, reserved); }
    void step(int64_t bytes) override { opening_.step(bytes); }
    bool cancelled() override { return false; }
    int reportError(int, uint32_t, int) override { return 0; }

  private:
    void writeBackXmlParts();
    void saveRegistry();
    void writeNewArchive(const std::string& archivePath);
    void readOldBlockMap();
    void lockPackage();
    void dropSignature();

    std::string packagePath_;
    // Held from the first read of the package until its replacement is in place.
    PackageLock packageLock_;
    Workspace workspace_;
    FileTable fileTable_;
    DocumentCache documents_;
    std::unique_ptr<PackageRegistry> registry_;
    // The package as it was: the files no edit touches are copied from it by the save.
    std::unique_ptr<ZipReader> original_;
    std::map<std::string, DosDateTime, std::less<>> knownPartTimes_;
    NamespaceMap namespaces_;
    bool modified_ = false;
    bool opened_ = false;

    // The progress lines of opening and of packing.
    ExtractionProgress opening_{Msg::Extracting};
    ProgressLine packing_;
};

} // namespace quendle
