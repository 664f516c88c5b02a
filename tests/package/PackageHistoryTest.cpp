#include "package/PackageHistory.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "os/StationInfo.h"
#include "support/TestSupport.h"
#include "xml/MsXmlDomDocument.h"

#include <gtest/gtest.h>

#include <string>

using namespace quendle;
using test::failureOf;

namespace {

constexpr const char* HistoryXml = R"(<?xml version="1.0" encoding="utf-8"?>
<PackageHistory xmlns="http://schemas.microsoft.com/appv/2010/PackageHistory">
  <PackageHistoryItem Time="2020-01-01T00:00:00.1Z" PackageVersion="old" SequencerVersion="5.1"/>
</PackageHistory>)";

StationInfo fixedStation() {
    StationInfo s;
    s.time = "2026-12-06T05:44:34.5Z";
    s.sequencerUser = "CORP\\builder";
    s.sequencingStation = "buildhost";
    s.windowsVersion = "6.1.0-13-amd64";
    s.userFolder = "/home/builder";
    s.processor = "2 X Test CPU";
    s.lastRebootNormal = s.terminalServices = s.remoteSession = "0";
    s.osBitness = "64";
    s.locale = "en-us";
    return s;
}

// The items of a saved history as Python's parser reads them: one line each, attributes in
// document order.
std::string itemsReadByPython(const MsXmlDomDocument& document) {
    test::ScratchDir dir;
    const std::string path = dir / "history.xml";
    document.Save(path);
    const std::string script = "import sys, xml.etree.ElementTree as E\n"
                               "ns='{http://schemas.microsoft.com/appv/2010/PackageHistory}'\n"
                               "for i in E.parse(sys.argv[1]).getroot():\n"
                               "    assert i.tag == ns+'PackageHistoryItem', i.tag\n"
                               "    print(' '.join(k+'='+v for k, v in i.attrib.items()))\n";
    return test::pythonOutput(script, path);
}

} // namespace

TEST(PackageHistoryValues, BothOrNeitherAndAValidVersion) {
    auto check = [](std::string_view engine, std::string_view version) {
        return failureOf([&] { validateHistoryValues(engine, version); });
    };
    EXPECT_EQ(check("", ""), "");
    EXPECT_EQ(check("MyTool", "2.5"), "");
    const std::string both =
        "Packaging engine and sequencer version are both mandatory when at lest one is specified.";
    EXPECT_EQ(check("MyTool", ""), both);
    EXPECT_EQ(check("", "2.5"), both);
    EXPECT_EQ(check("MyTool", "2..5"), "Invalid sequencer version: \"2..5\".");
    EXPECT_EQ(check("MyTool", "70000.1"), "Invalid sequencer version: \"70000.1\".");
}

TEST(PackageHistory, AppendsOneItemWithEveryAttributeInOrderToTheRootOnly) {
    ConsoleWriter::install();
    MsXmlDomDocument history("PackageHistory.xml");
    history.LoadXml(HistoryXml);
    NamespaceMap namespaces;
    history.SetupSelectionNamespaces("appv", namespaces);
    int changes = 0;
    PackageHistory editor(history, [&] { ++changes; });

    testing::internal::CaptureStdout();
    editor.appendItem("1a8308c7-90d1-4200-b16e-646f163a08e8", "", "", fixedStation());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(out.rfind("Added element to PackageHistory.xml:\n<PackageHistoryItem ", 0), 0u) << out;

    testing::internal::CaptureStdout();
    StationInfo later = fixedStation();
    later.time = "2026-12-06T06:00:00.42Z";
    later.sequencerUser = "builder";
    editor.appendItem("v2", "MyTool", "2.5", later);
    testing::internal::GetCapturedStdout();

    EXPECT_EQ(
        itemsReadByPython(history),
        "Time=2020-01-01T00:00:00.1Z PackageVersion=old SequencerVersion=5.1\n"
        "Time=2026-12-06T05:44:34.5Z PackageVersion=1a8308c7-90d1-4200-b16e-646f163a08e8 "
        "SequencerVersion=14.1 SequencerUser=CORP\\builder SequencingStation=buildhost "
        "WindowsVersion=6.1.0-13-amd64 SystemFolder= WindowsFolder= UserFolder=/home/builder SystemType= "
        "Processor=2 X Test CPU LastRebootNormal=0 TerminalServices=0 RemoteSession=0 NetFrameworkVersion= "
        "IEVersion= PackageOSBitness=64 PackagingEngine=Quendle Locale=en-us InUpgrade=false SaveMode=eSave\n"
        "Time=2026-12-06T06:00:00.42Z PackageVersion=v2 SequencerVersion=2.5 SequencerUser=builder "
        "SequencingStation=buildhost WindowsVersion=6.1.0-13-amd64 SystemFolder= WindowsFolder= "
        "UserFolder=/home/builder SystemType= Processor=2 X Test CPU LastRebootNormal=0 TerminalServices=0 "
        "RemoteSession=0 NetFrameworkVersion= IEVersion= PackageOSBitness=64 PackagingEngine=MyTool "
        "Locale=en-us InUpgrade=false SaveMode=eSave\n");

    // A document without a root element is a null pointer.
    MsXmlDomDocument empty("PackageHistory.xml");
    EXPECT_EQ(failureOf([&] { PackageHistory(empty).appendItem("v", "", "", fixedStation()); }),
              "Null pointer exception.");
}
