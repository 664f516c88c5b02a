// What a user gets from `cmake --install` and from the Debian package (the files in Debian's
// places, a manual page that man renders without warnings and that lists exactly the commands of
// the program's table, a package whose Depends dpkg computed from the linked libraries), and the
// bash completion as bash itself runs it: the generated script sourced and its function called
// with the words of a half-typed command line, in a folder with a few files.
#include "cli/QuendleCommandContainer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

using namespace quendle;
using namespace quendle::test;

namespace {

const std::vector<Command>& commandTable() {
    static QuendleCommandContainer container(nullptr);
    return container.getCommands();
}

// The rendered entries of a section, by command name: each entry is its synopsis line.
std::vector<std::pair<std::string, std::string>> commandEntries(const std::string& text,
                                                                const std::string& section) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::istringstream in(text);
    bool inside = false;
    // A synopsis that man had to wrap goes on at the same indent; its description is indented further.
    static const std::regex entry("^       /([^ ]+)(.*)$"), more("^       ([^ /].*)$"),
        heading("^[A-Z][A-Z -]*$");
    std::smatch m;
    bool inEntry = false;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, heading)) {
            inside = line == section;
        } else if (inside && std::regex_match(line, m, entry)) {
            entries.emplace_back(m[1], m[2]);
            inEntry = true;
            continue;
        } else if (inEntry && std::regex_match(line, m, more)) {
            entries.back().second += " " + m[1].str();
            continue;
        }
        inEntry = false;
    }
    return entries;
}

} // namespace

TEST(Install, PutsProgramManualCompletionAndDocsWhereDebianExpectsThemAndTheManualListsTheTable) {
    // The build tree installed as a Debian package would lay it out, under a scratch DESTDIR.
    ScratchDir dest;
    RunResult installed = runProgram({QUENDLE_CMAKE, "--install", QUENDLE_BUILD_DIR, "--prefix", "/usr"},
                                     {{{"DESTDIR", dest.path()}}, ""});
    ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;
    for (const char* file : {"/usr/bin/quendle", "/usr/share/man/man1/quendle.1.gz",
                             "/usr/share/bash-completion/completions/quendle",
                             "/usr/share/doc/quendle/README.md", "/usr/share/doc/quendle/commands.md"})
        EXPECT_TRUE(fs::is_regular_file(dest.path() + file)) << file;
    EXPECT_FALSE(fs::exists(dest.path() + "/usr/bin/make_demo_package"))
        << "a development tool was installed";
    EXPECT_TRUE((fs::status(dest.path() + "/usr/bin/quendle").permissions() & fs::perms::others_exec) !=
                fs::perms::none);

    RunResult version = runProgram({dest.path() + "/usr/bin/quendle", "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quendle " QUENDLE_PROJECT_VERSION "\n");

    // gzip itself must accept the page, as man-db reads it through zcat.
    EXPECT_EQ(runProgram({"/bin/gzip", "-t", dest.path() + "/usr/share/man/man1/quendle.1.gz"}).exitCode, 0);

    // The installed page renders without warnings and lists exactly the command table; as plain
    // text wide enough that no command line wraps.
    if (!haveTool("man"))
        GTEST_SKIP() << "man is not installed";
    RunResult page = runProgram(
        {"/usr/bin/man", "--warnings", "-E", "UTF-8", "-l", dest.path() + "/usr/share/man/man1/quendle.1.gz"},
        {{{"MANWIDTH", "250"}, {"LC_ALL", "C.UTF-8"}, {"MAN_KEEP_FORMATTING", ""}}, ""});
    ASSERT_EQ(page.exitCode, 0) << page.err;
    EXPECT_EQ(page.err, "") << "man --warnings reported problems";
    for (const char* variable : {"SOURCE_DATE_EPOCH", "CLICOLOR_FORCE", "NO_COLOR", "TMPDIR"})
        EXPECT_HAS(page.out, variable);
    EXPECT_LACKS(page.out, "@") << "a template marker was left in the page";

    std::string expected, listed;
    std::map<std::string, std::string> synopses;
    for (const char* section : {"COMMANDS", "SUB-COMMANDS"})
        for (const auto& [name, synopsis] : commandEntries(page.out, section)) {
            listed += std::string(section) + " " + name + "\n";
            synopses[name] = synopsis;
        }
    for (bool top : {true, false})
        for (const auto& c : commandTable())
            expected += c.isTopLevel() == top ? (top ? "COMMANDS " : "SUB-COMMANDS ") + c.name() + "\n" : "";
    EXPECT_EQ(listed, expected);

    // Every parameter name and listed value of a command is in its synopsis, as man shows it.
    for (const auto& c : commandTable()) {
        const std::string& synopsis = synopses[c.name()];
        for (const auto& p : c.parameters()) {
            if (!p.name.empty()) {
                EXPECT_TRUE(contains(synopsis, p.name + " ") || synopsis.ends_with(p.name) ||
                            contains(synopsis, p.name + "]"))
                    << c.name() << " " << p.name;
            }
            for (const auto& v : p.allowedValues) {
                EXPECT_HAS(synopsis, v) << c.name() << " " << v;
            }
        }
    }
}

TEST(Install, ManualGeneratorRefusesProseForACommandThatDoesNotExist) {
    ScratchDir d;
    writeFile(d / "stale.1.in",
              ".TH T 1\n.SH COMMANDS\n@SUB_COMMANDS@\n.\\\" @describe Del-Everything\nGone.\n"
              ".\\\" @end\n");
    RunResult stale =
        runProgram({QUENDLE_COMMAND_REFERENCE, "man", d / "stale.1.in", d / "stale.1", "1", "2026"});
    EXPECT_EQ(stale.exitCode, 1);
    EXPECT_HAS(stale.err, "Del-Everything");

    // A command without prose of its own is still listed, with the way to its usage.
    writeFile(d / "bare.1.in", ".TH T 1\n.SH COMMANDS\n@SUB_COMMANDS@\n");
    RunResult bare =
        runProgram({QUENDLE_COMMAND_REFERENCE, "man", d / "bare.1.in", d / "bare.1", "1", "2026"});
    EXPECT_EQ(bare.exitCode, 0) << bare.err;
    EXPECT_HAS(readFile(d / "bare.1"), "\\fBquendle /Help Del\\-RegistryKey\\fR");
}

TEST(Install, DebianPackageDependsOnTheLinkedLibrariesAndHoldsTheInstalledFiles) {
    if (!haveTool("dpkg-deb") || !haveTool("dpkg-shlibdeps"))
        GTEST_SKIP() << "dpkg-dev is not installed";
    ScratchDir out;
    // CPack's install step builds every target of the build folder first, as `make install` does.
    RunResult packed = runProgram({QUENDLE_CPACK, "-G", "DEB", "-B", out.path(), "--config",
                                   std::string(QUENDLE_BUILD_DIR) + "/CPackConfig.cmake"});
    ASSERT_EQ(packed.exitCode, 0) << packed.out << packed.err;
    std::string deb;
    for (const auto& e : fs::directory_iterator(out.path())) {
        if (e.path().extension() == ".deb")
            deb = e.path().string();
    }
    ASSERT_FALSE(deb.empty());
    EXPECT_TRUE(fs::path(deb).filename().string().starts_with("quendle_" QUENDLE_PROJECT_VERSION "_")) << deb;

    auto field = [&](const std::string& name) {
        return runProgram({"/usr/bin/dpkg-deb", "--field", deb, name}).out;
    };
    EXPECT_EQ(field("Package"), "quendle\n");
    EXPECT_EQ(field("Version"), QUENDLE_PROJECT_VERSION "\n");
    std::string depends = field("Depends");
    for (const char* library : {"libc6", "libxml2", "libxslt1.1", "libssl3", "libuuid1", "zlib1g"})
        EXPECT_HAS(depends, library);

    // Debian ships no folder or file writable by others and nothing outside /usr (the files are the
    // installed ones: the Depends above come from the program inside).
    std::istringstream lines(runProgram({"/usr/bin/dpkg-deb", "--contents", deb}).out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_NE(line[8], 'w') << line;
        EXPECT_TRUE(contains(line, " ./usr/") || line.ends_with(" ./")) << line;
    }
}

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

    ScratchDir dir_;
};

} // namespace

// What bash offers, by the words typed so far: names and parameters from the table, listed values
// quoted for the shell, files of this machine for host paths, and nothing for a free value.
TEST_F(Completion, OffersWhatTheTableAndTheFolderHoldForTheWordBeingTyped) {
    Words top = {"--help", "-h", "--version"}, subs, slashed;
    for (const auto& c : commandTable()) {
        if (c.isTopLevel())
            top.insert("/" + c.name());
        else
            subs.insert(c.name()), slashed.insert("/" + c.name());
    }
    const std::pair<std::vector<std::string>, Words> cases[] = {
        {{""}, top},
        {{"/Update", "app.appv", ""}, slashed},
        {{"/Update", "app.appv", "Add-File", "Root\\a", "notes.txt", "/"}, slashed},
        {{"/Help", ""}, subs},
        {{"--help", ""}, subs},
        // Names ignore the case of A to Z, as the program's do.
        {{"/update", "app.appv", "/add"}, {"/Add-File", "/Add-ScriptFile", "/Add-Folder"}},
        {{"/Update", "app.appv", "del-registryk"}, {"Del-RegistryKey", "Del-RegistryKeyAndSubkeys"}},
        // A parameter already given is not offered again.
        {{"/Update", "app.appv", "/Set-RegistryValue", "REGISTRY\\MACHINE\\A", "-valuename", "x", "-Type",
          "sz", "-"},
         {"-value", "-pathvariable"}},
        {{"/BatchFileUpdate", "app.appv", "notes.txt", ""}, {"-nofail"}},
        {{"/Update", "app.appv", "/Set-RegistryValue", "K", "-type", ""},
         {"sz", "expandsz", "dword", "multisz", "binary"}},
        {{"/Update", "app.appv", "/Set-RegistryKey", "K", "-virtualizationlevel", "o"}, {"overwrite"}},
        {{"/Update", "app.appv", "Set-NodeText", ""},
         {"AppxManifest.xml", "FilesystemMetadata.xml", "PackageHistory.xml", "StreamMap.xml",
          "\\[Content_Types\\].xml"}},
        {{"/Update", "app.appv", "/Update-PackageIdentity", "-version", ""}, {"auto"}},
        {{"/Update", "app.appv", "/Set-NodeText", "StreamMap.xml", "-xpath", ""}, {}},
        {{"/Update", "app.appv", "/Del-File", ""}, {}},
        {{"/Update", ""}, {"app.appv", "sub"}},
        {{"/BatchFileUpdate", "app.appv", ""}, {"app.appv", "notes.txt", "sub"}},
        {{"/Update", "app.appv", "/Add-File", "Root\\a.txt", "no"}, {"notes.txt"}},
        {{"/Update", "app.appv", "Add-ScriptFile", "sub/"}, {"sub/inner.txt"}},
        {{"/Update", "app.appv", "/TransformManifest", "AppxManifest.xml", "no"}, {"notes.txt"}},
        // An absolute path is a file, not the start of a sub-command.
        {{"/Update", "app.appv", "/Add-File", "Root\\a.txt", dir_.path() + "/no"},
         {dir_.path() + "/notes.txt"}},
    };
    for (const auto& [typed, offered] : cases)
        EXPECT_EQ(complete(typed), offered) << typed.front() << " ... " << typed.back();

    for (const auto& c : commandTable()) {
        if (c.isTopLevel())
            continue;
        Words expected;
        for (const auto& p : c.parameters())
            if (!p.name.empty())
                expected.insert(p.name);
        EXPECT_EQ(complete({"/Update", "app.appv", "/" + c.name(), "-"}), expected) << c.name();
    }
}
