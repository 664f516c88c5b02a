#include "archive/BlockMapBuilder.h"

#include "archive/PercentEncoding.h"
#include "os/FileSystem.h"
#include "xml/Namespaces.h"

#include <zlib.h>

namespace quendle {

namespace {

const std::string BlockMapNamespace = std::string(AppVSchemaHost) + "/appx/2010/blockmap";
const std::string Sha256Method = std::string(W3cHost) + "/2001/04/xmlenc#sha256";

} // namespace

BlockMapBuilder::BlockMapBuilder() : writer_(this), flushMode_(Z_FULL_FLUSH) {}

BlockMapBuilder::~BlockMapBuilder() = default;

bool BlockMapBuilder::open(const std::string& archivePath, const std::string& blockMapPath) {
    if (!writer_.open(archivePath))
        return false;
    std::string folder = hostpath::folderOf(archivePath);
    blockMapPath_ =
        !blockMapPath.empty() ? blockMapPath : hostpath::joinPath(folder.empty() ? "." : folder, EntryName);
    document_ = std::make_unique<XmlOutput>(ExceptionFileErrorReporter::instance(), blockMapPath_);
    document_->setStandalone(false);
    document_->WriteDeclaration();
    document_->StartElement("BlockMap", {"xmlns", "HashMethod"}, {BlockMapNamespace, Sha256Method}, false);
    return true;
}

bool BlockMapBuilder::finish(std::optional<DosDateTime> when) {
    if (!document_)
        return false;
    document_->EndAll();
    document_->Close();
    document_.reset();
    bool added = writer_.addEntry(blockMapPath_, EntryName, ZipCompression::Normal, when);
    flushMode_ = Z_NO_FLUSH;
    return added;
}

std::string BlockMapBuilder::encodeEntryName(const std::string& name) {
    return percentEncodeEntryName(name);
}

void BlockMapBuilder::beginFile(uint64_t localHeaderSize, uint64_t fileSize, const std::string& entryName) {
    if (!document_)
        return;
    document_->StartElement(
        "File", {"Name", "Size", "LfhSize"},
        {percentDecodeCharacters(entryName), std::to_string(fileSize), std::to_string(localHeaderSize)},
        false);
}

void BlockMapBuilder::endFile() {
    if (document_)
        document_->EndElement("File");
}

void BlockMapBuilder::deflatedChunk(const uint8_t* data, size_t length, uint64_t compressedBytes) {
    writeBlock(data, length, compressedBytes);
}

void BlockMapBuilder::storedChunk(const uint8_t* data, size_t length) {
    writeBlock(data, length, 0);
}

void BlockMapBuilder::copiedChunk(const Sha256Digest& hash, uint64_t compressedBytes) {
    writeBlock(hash, compressedBytes);
}

void BlockMapBuilder::writeBlock(const uint8_t* data, size_t length, uint64_t compressedBytes) {
    if (document_)
        writeBlock(sha_.hash(data, length), compressedBytes);
}

void BlockMapBuilder::writeBlock(const Sha256Digest& digest, uint64_t compressedBytes) {
    if (!document_)
        return;
    std::string hash = base64Encode(digest.data(), digest.size());
    if (compressedBytes != 0)
        document_->StartElement("Block", {"Hash", "Size"}, {hash, std::to_string(compressedBytes)}, true);
    else
        document_->StartElement("Block", {"Hash"}, {hash}, true);
}

} // namespace quendle
