#include "package/BlockMapCheck.h"
#include "util/strings/StringSystem.h"

#include "archive/Crc32.h"
#include "archive/DeflateBlockInflater.h"
#include "archive/PercentEncoding.h"
#include "archive/ZipCentralDirectory.h"
#include "archive/ZipEntryReader.h"
#include "archive/ZipRecords.h"
#include "core/Exception.h"
#include "core/ProgressLine.h"
#include "os/Sha256.h"
#include "package/KnownParts.h"
#include "util/strings/MessageFormat.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"
#include "xml/Namespaces.h"
#include "xml/XmlElementView.h"

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace quendle {

namespace {

constexpr size_t BlockSize = 65536;
// Deflate never needs more than this for 64 KiB, even when it falls back to stored blocks.
constexpr uint64_t MaxBlockPayload = BlockSize + 1024;
constexpr uint64_t MaxBlockMapBytes = 256ull << 20;
constexpr size_t MaxTail = 64;

struct MapBlock {
    std::string hash;
    std::optional<uint64_t> size;
};

struct MapFile {
    std::string name;
    std::string size, lfhSize;
    std::vector<MapBlock> blocks;
};

std::optional<uint64_t> number(const std::string& text) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(text);
}

// Verifies the blocks of one entry as its bytes stream past.
class BlockVerifier {
  public:
    BlockVerifier(const ZipDirectoryEntry& entry, const MapFile& file, SHA256& sha,
                  const BlockMapCheck::ProblemSink& problem)
        : entry_(entry), file_(file), sha_(sha), problem_(problem) {
        uint64_t expected = (entry.stored.size + BlockSize - 1) / BlockSize;
        if (file.blocks.size() != expected) {
            problem({Msg::BlockMapBlockCountWrong,
                     {entry.name, std::to_string(file.blocks.size()), std::to_string(expected)}});
            failed_ = true;
        }
    }

    // Deflated entries: the compressed bytes, cut into the pieces the block sizes give.
    void payload(const uint8_t* p, size_t n) {
        while (n > 0 && !failed_ && index_ < file_.blocks.size()) {
            const MapBlock& block = file_.blocks[index_];
            if (!block.size || *block.size == 0 || *block.size > MaxBlockPayload) {
                problem_({block.size ? Msg::BlockSizeWrong : Msg::BlockSizeMissing,
                          {entry_.name, std::to_string(index_ + 1)}});
                failed_ = true;
                return;
            }
            size_t take = static_cast<size_t>(std::min<uint64_t>(n, *block.size - pending_.size()));
            pending_.insert(pending_.end(), p, p + take);
            p += take;
            n -= take;
            if (pending_.size() == *block.size) {
                inflateBlock();
                pending_.clear();
            }
        }
        // What follows the last block only closes the deflate stream: a few bytes at most.
        if (!failed_ && index_ == file_.blocks.size() && n > 0) {
            if (tail_.size() + n > MaxTail)
                streamDiffers_ = true;
            else
                tail_.insert(tail_.end(), p, p + n);
        }
    }

    // Stored entries: the bytes themselves, cut into 64 KiB chunks. Their blocks have no
    // compressed size: a client would take one as the length of a deflated piece.
    void data(const uint8_t* p, size_t n) {
        if (!sizesChecked_) {
            sizesChecked_ = true;
            for (size_t i = 0; i < file_.blocks.size(); ++i)
                if (file_.blocks[i].size) {
                    problem_({Msg::StoredBlockSized, {entry_.name, std::to_string(i + 1)}});
                    break;
                }
        }
        while (n > 0 && !failed_) {
            size_t take = std::min(n, BlockSize - pending_.size());
            pending_.insert(pending_.end(), p, p + take);
            p += take;
            n -= take;
            if (pending_.size() == BlockSize)
                hashChunk(pending_.data(), pending_.size()), pending_.clear();
        }
    }

    void finish(bool stored) {
        if (failed_)
            return;
        if (stored && !pending_.empty())
            hashChunk(pending_.data(), pending_.size());
        if (!stored && index_ < file_.blocks.size())
            problem_({Msg::BlockSizeWrong, {entry_.name, std::to_string(index_ + 1)}});
    }

    // Whether the blocks, inflated on their own, are the whole deflate stream: each one ends
    // where the next begins, no block but the last ends the stream, and the bytes after the last
    // block end it without adding any. Then the blocks' bytes are the entry's bytes, and their
    // CRC is the entry's CRC, without inflating the stream a second time.
    bool blocksAreTheStream() {
        finish(false);
        if (failed_ || streamDiffers_ || index_ != file_.blocks.size())
            return false;
        if (streamEnded_)
            return tail_.empty();
        return inflater_.onlyEndsStream(tail_.data(), tail_.size());
    }

    uint32_t crc() const { return crc_; }

  private:
    void inflateBlock() {
        uint64_t left = entry_.stored.size - static_cast<uint64_t>(index_) * BlockSize;
        size_t expected = static_cast<size_t>(std::min<uint64_t>(left, BlockSize));
        out_.resize(BlockSize + 1);
        DeflateBlockInflater::Result r =
            inflater_.inflate(pending_.data(), pending_.size(), out_.data(), out_.size());
        size_t produced = r.produced;
        if (!r.ok || produced != expected) {
            problem_({r.reachesBack ? Msg::BlockReachesBack : Msg::BlockSizeWrong,
                      {entry_.name, std::to_string(index_ + 1)}});
            failed_ = true;
            return;
        }
        if (streamEnded_)
            streamDiffers_ = true; // a block after the end of the stream
        streamEnded_ = r.streamEnded;
        crc_ = crc32Update(crc_, out_.data(), produced);
        hashChunk(out_.data(), produced);
    }

    void hashChunk(const uint8_t* p, size_t n) {
        if (index_ >= file_.blocks.size()) {
            failed_ = true;
            return;
        }
        Sha256Digest digest = sha_.hash(p, n);
        if (base64Encode(digest.data(), digest.size()) != file_.blocks[index_].hash) {
            problem_({Msg::BlockHashWrong, {entry_.name, std::to_string(index_ + 1)}});
            failed_ = true;
        }
        ++index_;
    }

    const ZipDirectoryEntry& entry_;
    const MapFile& file_;
    SHA256& sha_;
    const BlockMapCheck::ProblemSink& problem_;
    DeflateBlockInflater inflater_;
    std::vector<uint8_t> pending_, out_, tail_;
    size_t index_ = 0;
    bool failed_ = false;
    bool streamEnded_ = false;
    bool streamDiffers_ = false;
    bool sizesChecked_ = false;
    uint32_t crc_ = 0;
};

// The `File` elements of the block map, in document order; nullopt when it cannot be read.
std::optional<std::vector<MapFile>> readBlockMap(const ZipCentralDirectory& archive,
                                                 const ZipDirectoryEntry& entry,
                                                 const BlockMapCheck::ProblemSink& problem) {
    std::string bytes;
    Failure why;
    if (!ZipEntryReader::readAll(archive, entry, MaxBlockMapBytes, bytes, why)) {
        problem({Msg::BlockMapUnreadable, {why.text()}});
        return std::nullopt;
    }
    MsXmlDomDocument document{std::string(BlockMapPart)};
    try {
        document.LoadXml(bytes);
    } catch (const Exception& e) {
        problem({Msg::BlockMapUnreadable, {e.message()}});
        return std::nullopt;
    }
    XmlElementView root = XmlElementView::rootOf(*document.GetDocumentElement());
    if (root.namespaceUri() != std::string(AppVSchemaHost) + "/appx/2010/blockmap" || !root.is("BlockMap"))
        problem({Msg::BlockMapNamespaceWrong});
    std::vector<MapFile> files;
    for (const XmlElementView& f : root.children("File")) {
        MapFile file{f.attribute("Name"), f.attribute("Size"), f.attribute("LfhSize"), {}};
        for (const XmlElementView& b : f.children("Block")) {
            std::string size = b.attribute("Size");
            file.blocks.push_back({b.attribute("Hash"), size.empty() ? std::nullopt : number(size)});
            // A size that is no number is a wrong size, not a missing one.
            if (!size.empty() && !file.blocks.back().size)
                file.blocks.back().size = 0;
        }
        files.push_back(std::move(file));
    }
    return files;
}

} // namespace

void BlockMapCheck::run(const ZipCentralDirectory& archive, const ProblemSink& problem,
                        ProgressLine* progress) {
    const ZipDirectoryEntry* mapEntry = nullptr;
    std::vector<const ZipDirectoryEntry*> mapped;
    for (const ZipDirectoryEntry& e : archive.entries()) {
        if (equalsIgnoreCaseAscii(e.name, BlockMapPart))
            mapEntry = &e;
        else if (!e.isFolder() && !equalsIgnoreCaseAscii(e.name, ContentTypesPart))
            mapped.push_back(&e);
    }
    std::optional<std::vector<MapFile>> files;
    if (!mapEntry)
        problem({Msg::BlockMapMissing});
    else
        files = readBlockMap(archive, *mapEntry, problem);

    std::map<std::string, const MapFile*> byName;
    if (files) {
        // Names are matched ignoring case, as the save matches them; a name whose case differs
        // is still a problem of its own, one for each.
        for (const MapFile& f : *files)
            byName.emplace(foldCase(f.name), &f);
        // The first place where the lists part is enough to see entries missing or reordered.
        size_t common = std::min(files->size(), mapped.size());
        for (size_t i = 0; i <= common; ++i) {
            std::string listed = i < files->size() ? (*files)[i].name : "(nothing)";
            std::string stored = i < mapped.size() ? mapped[i]->name : "(nothing)";
            bool caseOnly = i < common && listed != stored && foldCase(listed) == foldCase(stored);
            if (caseOnly)
                problem({Msg::BlockMapNameCase, {std::to_string(i + 1), listed, stored}});
            else if (listed != stored) {
                problem({Msg::BlockMapOrderWrong, {std::to_string(i + 1), listed, stored}});
                break;
            }
            if (i == common)
                break;
        }
    }

    SHA256 sha;
    for (const ZipDirectoryEntry& e : archive.entries()) {
        // Counted as done on every way out of the entry's checks.
        struct Done {
            ProgressLine* line;
            uint64_t bytes;
            ~Done() {
                if (line)
                    line->advance(1, bytes);
            }
        } done{progress, e.stored.size};
        if (e.isFolder() && e.stored.size == 0)
            continue;
        const MapFile* file = nullptr;
        if (files && &e != mapEntry && !equalsIgnoreCaseAscii(e.name, ContentTypesPart)) {
            auto it = byName.find(foldCase(e.name));
            file = it == byName.end() ? nullptr : it->second;
        }
        if (file) {
            if (file->size != std::to_string(e.stored.size))
                problem({Msg::BlockMapFileSizeWrong, {e.name, file->size, std::to_string(e.stored.size)}});
            if (e.localHeaderSize && file->lfhSize != std::to_string(e.localHeaderSize))
                problem({Msg::BlockMapHeaderSizeWrong,
                         {e.name, file->lfhSize, std::to_string(e.localHeaderSize)}});
        }
        std::optional<BlockVerifier> blocks;
        if (file)
            blocks.emplace(e, *file, sha, problem);
        bool stored = e.stored.method == MethodStored;
        if (blocks && e.stored.method == MethodDeflated) {
            Failure why;
            bool read = ZipEntryReader::readPayload(
                archive, e,
                [&](const uint8_t* p, size_t n) {
                    blocks->payload(p, n);
                    return true;
                },
                why);
            if (read && blocks->blocksAreTheStream()) {
                if (blocks->crc() != e.stored.crc)
                    problem({Msg::EntryCrcWrong, {e.name}});
                continue;
            }
            // The block problems are told; the stream read below says what is wrong with the data.
            blocks.reset();
        }
        uint32_t crc = 0;
        Failure why;
        bool read = ZipEntryReader::read(
            archive, e,
            [&](const uint8_t* p, size_t n) {
                if (blocks && !stored)
                    blocks->payload(p, n);
                return true;
            },
            [&](const uint8_t* p, size_t n) {
                crc = crc32Update(crc, p, n);
                if (blocks && stored)
                    blocks->data(p, n);
                return true;
            },
            why);
        if (!read) {
            problem({Msg::EntryUnreadable, {e.name, why.text()}});
            continue;
        }
        if (crc != e.stored.crc)
            problem({Msg::EntryCrcWrong, {e.name}});
        if (blocks)
            blocks->finish(stored);
    }
}

} // namespace quendle
