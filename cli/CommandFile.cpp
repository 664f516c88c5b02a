#include "cli/CommandFile.h"

#include "cli/CommandLineException.h"
#include "cli/ICommandContainer.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "os/FileHandle.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "util/strings/StringTable.h"

#include <algorithm>
#include <cstdlib>

namespace quendle {
namespace {

enum class Encoding { Ansi, Utf16Le, Utf16Be };

} // namespace

CommandFile::CommandFile(std::string marker, ICommandContainer* container)
    : marker_(std::move(marker)), container_(container) {}

void CommandFile::run(const std::string& path, bool noFail) {
    lineCount_ = 0;
    FileHandle file = FileHandle::openForReadingAnyKind(path);
    if (!file)
        throw Exception(Msg::FileNotFound, path);
    // Known by its identity, not its name: a link or another spelling is the same file.
    const std::pair<uint64_t, uint64_t> identity = file.fileIdentity();
    if (std::find(running_.begin(), running_.end(), identity) != running_.end())
        throw Exception(Msg::CommandFileAlreadyRunning, path);
    running_.push_back(identity);
    struct Running {
        std::vector<std::pair<uint64_t, uint64_t>>& files;
        ~Running() { files.pop_back(); }
    } running{running_};

    unsigned char head[2] = {0, 0};
    size_t headRead = 0;
    while (headRead < 2) {
        long n = file.readSome(head + headRead, 2 - headRead);
        if (n < 0)
            return; // a read that fails ends the file where it stands, as its end would
        if (n == 0)
            break;
        headRead += static_cast<size_t>(n);
    }

    Encoding encoding = Encoding::Ansi;
    if (head[0] == 0xFF && head[1] == 0xFE)
        encoding = Encoding::Utf16Le;
    else if (head[0] == 0xFE && head[1] == 0xFF)
        encoding = Encoding::Utf16Be;
    else if (head[1] > 0x7F)
        throw Exception(ErrorCode{CommandFileFormatErrorCode}, Msg::CommandFileFormat, marker_);

    // ANSI lines are kept as bytes and decoded whole, so that a multi-byte character split
    // between two reads is not broken; UTF-16 lines are kept as code units.
    std::string bytes;
    std::u16string units;
    auto lineTooLong = [&] { return bytes.size() > MaxLineBytes || units.size() * 2 > MaxLineBytes; };
    auto endLine = [&] {
        std::string line = encoding == Encoding::Ansi ? utf8OrWindows1252(bytes) : utf16ToUtf8(units);
        bytes.clear();
        units.clear();
        processLine(line, noFail);
    };
    auto checkLength = [&] {
        if (lineTooLong())
            throw Exception(formatMessageId(Msg::CommandFileLineTooLong,
                                            {path, static_cast<long long>(MaxLineBytes >> 20)}));
    };
    auto take = [&](char16_t c) {
        if (c == u'\r' || c == u'\n') {
            endLine();
        } else if (encoding == Encoding::Ansi) {
            bytes += static_cast<char>(c);
        } else {
            units += c;
        }
        checkLength();
    };

    if (encoding == Encoding::Ansi) {
        // Bytes that could not be read count as NUL characters, as the two first characters.
        take(head[0]);
        take(head[1]);
    }

    unsigned char buf[8192];
    size_t carried = 0; // an odd byte of UTF-16 waiting for its partner
    for (;;) {
        long n = file.readSome(buf + carried, sizeof buf - carried);
        if (n < 0)
            return; // the lines before it have run; the pending one has not
        if (n == 0)
            break;
        size_t total = carried + static_cast<size_t>(n);
        if (encoding == Encoding::Ansi) {
            // Whole runs between line ends at once: a long line costs one append per chunk.
            const char* p = reinterpret_cast<const char*>(buf);
            const char* end = p + total;
            while (p < end) {
                const char* stop = p;
                while (stop < end && *stop != '\r' && *stop != '\n')
                    ++stop;
                bytes.append(p, stop);
                if (stop < end)
                    take(static_cast<unsigned char>(*stop++));
                else
                    checkLength();
                p = stop;
            }
            continue;
        }
        size_t even = total & ~size_t{1};
        for (size_t i = 0; i < even; i += 2) {
            char16_t c = encoding == Encoding::Utf16Le ? static_cast<char16_t>(buf[i] | (buf[i + 1] << 8))
                                                       : static_cast<char16_t>((buf[i] << 8) | buf[i + 1]);
            take(c);
        }
        carried = total - even;
        if (carried)
            buf[0] = buf[even];
    }
    if (carried)
        throw Exception(Msg::UnexpectedException);
    endLine();
}

void CommandFile::processLine(std::string_view raw, bool noFail) {
    std::string_view line = trimWhiteSpace(raw);
    if (line.empty())
        return;
    if (lineCount_ == 0 && line.substr(0, marker_.size()) != marker_)
        throw Exception(ErrorCode{CommandFileFormatErrorCode}, Msg::CommandFileFormat, marker_);
    if (line.front() != ';') {
        std::string commandLine = expandVariables(line);
        executeLine(commandLine, noFail);
    }
    ++lineCount_;
}

void CommandFile::executeLine(const std::string& commandLine, bool noFail) {
    if (ConsoleWriter* w = ConsoleWriter::installed())
        w->writeLine(commandLine);
    try {
        std::vector<std::string> words;
        if (!splitWords(commandLine, words))
            throw Exception(formatMessageId(Msg::MisplacedQuote, {commandLine}));
        if (words.empty())
            return;
        std::string name = words.front();
        words.erase(words.begin());
        container_->executeCommand(name, words);
    } catch (const CommandLineException&) {
        throw;
    } catch (const Exception& e) {
        if (!noFail)
            throw;
        e.GetPresenter().Present(e);
    }
}

std::string CommandFile::expandVariables(std::string_view line) {
    std::string copy(line);
    for (char& c : copy) {
        if (c == '&')
            c = '%';
    }
    std::string out;
    out.reserve(copy.size());
    size_t i = 0;
    while (i < copy.size()) {
        if (copy[i] != '%') {
            size_t next = std::min(copy.find('%', i), copy.size());
            out.append(copy, i, next - i);
            i = next;
            continue;
        }
        size_t close = copy.find('%', i + 1);
        if (close == std::string::npos) {
            out.append(copy, i, std::string::npos);
            break;
        }
        std::string name = copy.substr(i + 1, close - i - 1);
        const char* value =
            name.empty() || name.find('=') != std::string::npos ? nullptr : std::getenv(name.c_str());
        if (value) {
            out += value;
            i = close + 1;
        } else {
            // Not a variable: keep the text, and let the closing '%' open the next candidate.
            out.append(copy, i, close - i);
            i = close;
        }
    }
    return out == copy ? std::string(line) : out;
}

bool CommandFile::splitWords(std::string_view line, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        while (i < n && line[i] == ' ')
            ++i;
        if (i == n)
            break;
        size_t stop = std::min(line.find_first_of(" \"", i), n);
        std::string word(line.substr(i, stop - i));
        i = stop;
        if (i < n && line[i] == '"') {
            ++i;
            for (;;) {
                if (i == n)
                    return false; // no closing quote
                if (line[i] != '"') {
                    size_t quote = std::min(line.find('"', i), n);
                    word.append(line.substr(i, quote - i));
                    i = quote;
                    continue;
                }
                if (i + 1 < n && line[i + 1] == '"') {
                    word += '"';
                    i += 2;
                    continue;
                }
                if (i + 1 == n || line[i + 1] == ' ') {
                    ++i;
                    break;
                }
                return false; // a closing quote glued to more text
            }
        }
        words.push_back(std::move(word));
    }
    return true;
}

} // namespace quendle
