#include "archive/ZipWriter.h"

#include "archive/CheckedCopy.h"
#include "archive/EntryData.h"
#include "archive/WorkerPool.h"
#include "archive/ZipReader.h"
#include "os/SourceFile.h"
#include "os/SystemError.h"

namespace quendle {

namespace {

struct EncodedName {
    std::string bytes;
    bool utf8Flag = false;
};

EncodedName encodeName(ZipWriterHooks* hooks, const std::string& name) {
    if (hooks)
        return {hooks->encodeEntryName(name), false};
    EncodedName out;
    out.bytes.reserve(name.size());
    for (char c : name) {
        out.bytes += c == '\\' ? '/' : c;
        if (static_cast<unsigned char>(c) > 127)
            out.utf8Flag = true;
    }
    return out;
}

} // namespace

ZipWriter::ZipWriter(ZipWriterHooks* hooks) : hooks_(hooks) {}

ZipWriter::~ZipWriter() = default;

WorkerPool& ZipWriter::pool() {
    if (!pool_)
        pool_ = std::make_unique<WorkerPool>(CheckedCopy::threadCount());
    return *pool_;
}

CheckedCopy& ZipWriter::copier() {
    if (!copier_)
        copier_ = std::make_unique<CheckedCopy>(pool());
    return *copier_;
}

void ZipWriter::planArchivedEntries(std::vector<const ArchivedEntry*> order) {
    // Only entries that can be copied: the others would only cut the windows of small entries
    // checked ahead.
    std::erase_if(order, [](const ArchivedEntry* entry) { return !CheckedCopy::canCopy(*entry); });
    copier().plan(std::move(order));
}

void ZipWriter::keepCentral(const CentralDirectoryHeader& header) {
    const std::vector<uint8_t>& bytes = header.bytes();
    central_.append(bytes.data(), bytes.size());
    ++centralCount_;
}

bool ZipWriter::open(const std::string& archivePath) {
    central_.clear();
    centralCount_ = 0;
    failure_ = Failure();
    if (archive_.create(archivePath))
        return true;
    return fail(SystemError::last().failure(Msg::PathSystemError, {archivePath}));
}

bool ZipWriter::fail(Failure why) {
    failure_ = std::move(why);
    return false;
}

bool ZipWriter::failWriting() {
    // The system error is cleared before each step, so none means zlib (not the system) gave up.
    SystemError why = SystemError::last();
    return fail(why.failed() ? why.failure(Msg::ZipSystemFailed) : Failure(Msg::ZipNotCompressed));
}

uint16_t ZipWriter::flagsFor(ZipCompression compression) {
    switch (compression) {
    case ZipCompression::SuperFast:
        return FlagDataDescriptor | 0x0006;
    case ZipCompression::Maximum:
        return FlagDataDescriptor | 0x0002;
    default:
        return FlagDataDescriptor;
    }
}

int ZipWriter::methodFor(ZipCompression compression) {
    switch (compression) {
    case ZipCompression::Stored:
        return MethodStored;
    case ZipCompression::SuperFast:
    case ZipCompression::Maximum:
    case ZipCompression::Normal:
        return MethodDeflated;
    }
    return -1;
}

bool ZipWriter::addEntry(const std::string& sourcePath, const std::string& entryName,
                         ZipCompression compression, std::optional<DosDateTime> when) {
    if (!archive_.isOpen())
        return false; // keeps the reason the open gave
    int method = methodFor(compression);
    EncodedName name = encodeName(hooks_, entryName);
    if (method < 0 || name.bytes.empty() || name.bytes.size() > 0xFFFF)
        return fail(Failure(Msg::ZipNameCannotBeStored, {entryName}));
    // Opened before anything is written, so that a missing source leaves no orphan header.
    SourceFile source;
    if (!source.open(sourcePath))
        return fail(SystemError::last().kind() == SystemError::Kind::IsFolder
                        ? Failure(Msg::ZipSourceIsFolder, {sourcePath})
                        : SystemError::last().failure(Msg::PathSystemError, {sourcePath}));

    uint16_t flags = flagsFor(compression) | (name.utf8Flag ? FlagUtf8Name : 0);
    LocalFileHeader local(flags, static_cast<uint16_t>(method),
                          when ? *when : dosDateTimeOf(source.modified()), name.bytes);
    ZipEntryListener* listener = hooks_ ? hooks_->entryListener() : nullptr;
    std::unique_ptr<EntryData> payload = makeEntryData(compression, hooks_, listener, &pool());
    if (!payload)
        return fail(Failure(Msg::ZipCompressorCannotStart));

    uint64_t offset = archive_.size();
    SystemError::clear();
    if (!local.writeTo(archive_))
        return failWriting();
    if (listener)
        listener->beginFile(local.size(), source.size(), entryName);
    if (!payload->write(source, archive_))
        return failWriting();
    if (listener)
        listener->endFile();

    DataDescriptor descriptor;
    descriptor.set(payload->crc(), payload->size(), source.size());
    if (!descriptor.writeTo(archive_))
        return failWriting();
    CentralDirectoryHeader header(local, name.bytes, offset);
    header.set(payload->crc(), payload->size(), source.size());
    keepCentral(header);
    return true;
}

bool ZipWriter::addArchivedEntry(ZipReader& reader, const ArchivedEntry& entry, const std::string& entryName,
                                 DosDateTime when, CopyOutcome& outcome) {
    outcome = CopyOutcome();
    if (!archive_.isOpen())
        return false;
    EncodedName name = encodeName(hooks_, entryName);
    if (name.bytes.empty() || name.bytes.size() > 0xFFFF)
        return fail(Failure(Msg::ZipNameCannotBeStored, {entryName}));
    uint16_t flags = flagsFor(ZipCompression::SuperFast) | (name.utf8Flag ? FlagUtf8Name : 0);
    LocalFileHeader local(flags, MethodDeflated, when, name.bytes);
    ZipEntryListener* listener = hooks_ ? hooks_->entryListener() : nullptr;
    // The reader gives no reason where the data simply ran on or stopped short.
    auto damaged = [&](const Failure& why, uint32_t otherwise = Msg::ZipDataDamaged) {
        outcome.damaged = true;
        return fail(why.failed() ? why : Failure(otherwise));
    };

    uint64_t offset = archive_.size();
    SystemError::clear();
    if (!local.writeTo(archive_))
        return failWriting();
    uint64_t compressedSize = 0;
    uint32_t crc = entry.crc;
    CheckedCopy& copy = copier();
    auto copied = [&] {
        outcome.copied = true;
        outcome.wrongOldHashes = copy.wrongOldHashes();
        compressedSize = entry.compressedSize;
        if (listener) {
            listener->beginFile(local.size(), entry.size, entryName);
            for (const CheckedCopy::Block& block : copy.blocks())
                listener->copiedChunk(block.hash, block.compressedSize);
            listener->entryDone(compressedSize);
            listener->endFile();
        }
    };
    // The copy reads the old archive once, front to back.
    auto openRaw = [&](const ArchivedEntry& e) {
        std::unique_ptr<ZipReader::EntryStream> raw = reader.openEntry(e, true);
        if (raw)
            raw->forgetBehind();
        return raw;
    };
    const bool copyable = CheckedCopy::canCopy(entry);
    if (const uint8_t* payload = copyable ? copy.checkedAhead(entry, openRaw) : nullptr) {
        if (!archive_.append(payload, static_cast<size_t>(entry.compressedSize)))
            return failWriting();
        copied();
    } else if (copyable) {
        std::unique_ptr<ZipReader::EntryStream> raw = openRaw(entry);
        if (!raw)
            return damaged(reader.failure());
        switch (copy.run(*raw, entry, archive_)) {
        case CheckedCopy::Result::Copied:
            copied();
            break;
        case CheckedCopy::Result::CrcMismatch:
            return damaged(Failure(Msg::ZipCrcMismatch));
        case CheckedCopy::Result::ReadFailed:
            return damaged(raw->failure());
        case CheckedCopy::Result::WriteFailed:
            return failWriting();
        case CheckedCopy::Result::NotAligned:
            // Written again below, from the inflated data.
            if (!archive_.truncateTo(offset + local.size()))
                return failWriting();
            break;
        }
    }
    if (!outcome.copied) {
        std::unique_ptr<ZipReader::EntryStream> data = reader.openEntry(entry, false);
        if (!data)
            return damaged(reader.failure());
        std::unique_ptr<EntryData> payload =
            makeEntryData(ZipCompression::SuperFast, hooks_, listener, &pool());
        if (listener)
            listener->beginFile(local.size(), entry.size, entryName);
        SystemError::clear();
        if (!payload->write(*data, archive_)) {
            if (SystemError::last().failed())
                return failWriting();
            return damaged(data->failure(), Msg::ZipDataShorter);
        }
        if (!data->atCleanEnd())
            return damaged(data->failure(), Msg::ZipDataLonger);
        if (payload->crc() != entry.crc)
            return damaged(Failure(Msg::ZipCrcMismatch));
        if (listener)
            listener->endFile();
        compressedSize = payload->size();
        crc = payload->crc();
    }
    DataDescriptor descriptor;
    descriptor.set(crc, compressedSize, entry.size);
    if (!descriptor.writeTo(archive_))
        return failWriting();
    CentralDirectoryHeader header(local, name.bytes, offset);
    header.set(crc, compressedSize, entry.size);
    keepCentral(header);
    return true;
}

bool ZipWriter::close() {
    if (!archive_.isOpen())
        return false;
    SystemError::clear();
    uint64_t directoryOffset = archive_.size();
    bool ok = true;
    ok =
        central_.replay([this](const uint8_t* data, size_t length) { return archive_.append(data, length); });
    uint64_t zip64EndOffset = archive_.size();
    zip64End_.set(centralCount_, zip64EndOffset - directoryOffset, directoryOffset);
    locator_.setEndRecordOffset(zip64EndOffset);
    ok = ok && zip64End_.writeTo(archive_) && locator_.writeTo(archive_) && end_.writeTo(archive_);
    ok = archive_.close() && ok;
    central_.clear();
    centralCount_ = 0;
    zip64End_.set(0, 0, 0);
    locator_.setEndRecordOffset(0);
    return ok || failWriting();
}

} // namespace quendle
