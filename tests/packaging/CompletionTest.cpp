// The bash completion as bash itself runs it: the generated script is sourced and its function
// called with the words of a half-typed command line, in a folder with a few files.
#include "cli/QuendleCommandContainer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <set>
#include <sstream>

using namespace quendle;
using namespace quendle::test;

namespace {

using Words = std::set<std::string>;

class Completion : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir_ / "app.appv", "");
        writeFile(dir_ / "notes.txt", "");
        writeFile(dir_ / "sub/inner.txt", "");
    }

    // What bash offers for the last word of `words` (the words after "quendle").
    Words complete(const std::vector<std::string>& words) {
        std::string script = "source " +
                             shellQuote(std::string(QUENDLE_BUILD_DIR) + "/doc/quendle.bash-completion") +
                             " || exit 9; COMP_WORDS=(quendle";
        for (const auto& w : words)
            script += " " + shellQuote(w);
        script += "); COMP_CWORD=" + std::to_string(words.size()) +
                  "; _quendle 2>/dev/null; printf '%s\\n' \"${COMPREPLY[@]}\"";
        RunResult r = runProgram({"/bin/bash", "--norc", "-c", script}, {{}, dir_.path()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        Words offered;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);)
            if (!line.empty())
                offered.insert(line);
        return offered;
    }

    static const std::vector<Command>& table() {
        static QuendleCommandContainer container(nullptr);
        return container.getCommands();
    }

    ScratchDir dir_;
};

} // namespace

TEST_F(Completion, CommandsAndSubCommandsComeFromTheTable) {
    Words top = {"--help", "-h", "--version"}, subs, slashed;
    for (const auto& c : table()) {
        if (c.isTopLevel())
            top.insert("/" + c.name());
        else
            subs.insert(c.name()), slashed.insert("/" + c.name());
    }
    EXPECT_EQ(complete({""}), top);
    EXPECT_EQ(complete({"/Update", "app.appv", ""}), slashed);
    EXPECT_EQ(complete({"/Update", "app.appv", "Add-File", "Root\\a", "notes.txt", "/"}), slashed);
    EXPECT_EQ(complete({"/Help", ""}), subs);
    EXPECT_EQ(complete({"--help", ""}), subs);
    // Names ignore the case of A to Z, as the program's do.
    EXPECT_EQ(complete({"/update", "app.appv", "/add"}), (Words{"/Add-File", "/Add-ScriptFile", "/Add-Folder"}));
    EXPECT_EQ(complete({"/Update", "app.appv", "del-registryk"}),
              (Words{"Del-RegistryKey", "Del-RegistryKeyAndSubkeys"}));
}

TEST_F(Completion, EverySubCommandOffersItsOwnNamedParameters) {
    for (const auto& c : table()) {
        if (c.isTopLevel())
            continue;
        Words expected;
        for (const auto& p : c.parameters())
            if (!p.name.empty())
                expected.insert(p.name);
        EXPECT_EQ(complete({"/Update", "app.appv", "/" + c.name(), "-"}), expected) << c.name();
    }
    // One already given is not offered again.
    EXPECT_EQ(complete({"/Update", "app.appv", "/Set-RegistryValue", "REGISTRY\\MACHINE\\A", "-valuename",
                        "x", "-Type", "sz", "-"}),
              (Words{"-value", "-pathvariable"}));
    EXPECT_EQ(complete({"/BatchFileUpdate", "app.appv", "notes.txt", ""}), Words{"-nofail"});
}

TEST_F(Completion, ListedValuesAreOfferedQuotedForTheShell) {
    EXPECT_EQ(complete({"/Update", "app.appv", "/Set-RegistryValue", "K", "-type", ""}),
              (Words{"sz", "expandsz", "dword", "multisz", "binary"}));
    EXPECT_EQ(complete({"/Update", "app.appv", "/Set-RegistryKey", "K", "-virtualizationlevel", "o"}),
              Words{"overwrite"});
    EXPECT_EQ(complete({"/Update", "app.appv", "Set-NodeText", ""}),
              (Words{"AppxManifest.xml", "FilesystemMetadata.xml", "PackageHistory.xml", "StreamMap.xml",
                     "\\[Content_Types\\].xml"}));
    EXPECT_EQ(complete({"/Update", "app.appv", "/Update-PackageIdentity", "-version", ""}), Words{"auto"});
    // A free value or a path inside the package has nothing to offer.
    EXPECT_EQ(complete({"/Update", "app.appv", "/Set-NodeText", "StreamMap.xml", "-xpath", ""}), Words{});
    EXPECT_EQ(complete({"/Update", "app.appv", "/Del-File", ""}), Words{});
}

TEST_F(Completion, HostPathsCompleteToFilesOfThisMachine) {
    EXPECT_EQ(complete({"/Update", ""}), (Words{"app.appv", "sub"}));
    EXPECT_EQ(complete({"/BatchFileUpdate", "app.appv", ""}), (Words{"app.appv", "notes.txt", "sub"}));
    EXPECT_EQ(complete({"/Update", "app.appv", "/Add-File", "Root\\a.txt", "no"}), Words{"notes.txt"});
    EXPECT_EQ(complete({"/Update", "app.appv", "Add-ScriptFile", "sub/"}), Words{"sub/inner.txt"});
    EXPECT_EQ(complete({"/Update", "app.appv", "/TransformManifest", "AppxManifest.xml", "no"}),
              Words{"notes.txt"});
    // An absolute path is a file, not the start of a sub-command.
    Words absolute = complete({"/Update", "app.appv", "/Add-File", "Root\\a.txt", dir_.path() + "/no"});
    EXPECT_EQ(absolute, Words{dir_.path() + "/notes.txt"});
}
