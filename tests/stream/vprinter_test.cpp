// The virtual printer, driven as the library drives a printer: through
// TCPIPPrinter. Probe, replies in both control-D modes, errors, fonts that
// outlive their job, the emulated disk, interpreter restarts, SIGTERM.
#include <gtest/gtest.h>

#include <filesystem>

#include "stream/tcpipprinter.h"
#include "support/tempdir.h"
#include "support/virtualprinter.h"

using namespace korrin;
using korrin::test::VirtualPrinter;

namespace {

#ifdef KORRIN_VPRINTER
const char* const program = KORRIN_VPRINTER;
#else
const char* const program = KORRIN_BINARY_DIR "/korrin-vprinter";
#endif

PrinterTimeouts patient()
{
    PrinterTimeouts t;
    t.connect = 5000;
    t.probe = 20000;
    t.reply = 20000;
    t.write = 20000;
    return t;
}

class VirtualPrinterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists("/usr/bin/gs"))
            GTEST_SKIP() << "ghostscript missing";
    }

    // Runs one job on a fresh connection and returns its reply.
    static std::string job(const VirtualPrinter& printer, bool ctrlD, const std::string& text)
    {
        TCPIPPrinter p(ctrlD, "127.0.0.1", printer.port(), 3, patient());
        p.write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
        p.writeeof();
        std::string reply;
        for (int c; (c = p.read()) != -1;)
            reply.push_back(static_cast<char>(c));
        return reply;
    }

    test::TempDir dir_;
};

void forgetProbes()
{
    std::lock_guard<std::mutex> lock(TCPIPPrinter::CtrlDMutex);
    TCPIPPrinter::NameCached = "";
}

} // namespace

TEST_F(VirtualPrinterTest, ProbeAndAJobWithAReplyInEachMode)
{
    {
        VirtualPrinter printer(program, dir_.file("ctrld"), true);
        forgetProbes();
        {
            // The printer serves one connection at a time: this one ends
            // before the next job can start.
            TCPIPPrinter p("127.0.0.1", printer.port(), 3, patient());
            EXPECT_TRUE(p.CtrlDSupported());
        }
        EXPECT_EQ(job(printer, true, "(hello) print flush\n"), "hello");
    }
    {
        VirtualPrinter printer(program, dir_.file("passthrough"), false);
        forgetProbes();
        {
            TCPIPPrinter p("127.0.0.1", printer.port(), 3, patient());
            EXPECT_FALSE(p.CtrlDSupported());
        }
        EXPECT_EQ(job(printer, false, "(hello) print flush\n"), "hello<-eof->");
        EXPECT_EQ(printer.stop(), 0);
        std::string log = printer.log();
        EXPECT_NE(log.find("bytes in"), std::string::npos) << log;
    }
    forgetProbes();
}

TEST_F(VirtualPrinterTest, AFailedJobReportsItsErrorAndTheNextJobRuns)
{
    VirtualPrinter printer(program, dir_.file("p"), false);
    std::string reply = job(printer, false, "(before) print nosuchoperator (after) print\n");
    EXPECT_NE(reply.find("before%%[ Error: undefined; OffendingCommand: nosuchoperator ]%%"), std::string::npos) << reply;
    EXPECT_EQ(reply.find("after"), std::string::npos) << reply;
    // The handler the connection installs ends a failed job's reply too.
    EXPECT_NE(reply.find("<-eof->"), std::string::npos) << reply;
    EXPECT_EQ(job(printer, false, "1 2 add == flush\n"), "3\n<-eof->");
    printer.stop();
    EXPECT_NE(printer.log().find("error: undefined"), std::string::npos) << printer.log();
}

TEST_F(VirtualPrinterTest, WhatAJobDefinesIsGoneUnlessItLeftTheEncapsulation)
{
    VirtualPrinter printer(program, dir_.file("p"), true);
    job(printer, true, "/KorrinLocal 1 def /Helvetica findfont /KorrinLocalFont exch definefont pop\n");
    job(printer, true,
        "true (0) startjob pop /Helvetica findfont dup length dict copy dup /FontName /KorrinTestFont put "
        "/KorrinTestFont exch definefont pop\n");
    EXPECT_EQ(job(printer, true,
                  "userdict /KorrinLocal known == FontDirectory /KorrinLocalFont known == "
                  "/KorrinTestFont findfont /FontName get == flush\n"),
              "false\nfalse\n/KorrinTestFont\n");
}

TEST_F(VirtualPrinterTest, TheDiskHoldsFilesJobsWriteAndDelete)
{
    VirtualPrinter printer(program, dir_.file("p"), true, "--disk-size 8");
    // A font stored the way a disk download stores it: a copy loop that
    // takes the rest of the job, ended by the end of the connection.
    {
        TCPIPPrinter p(true, "127.0.0.1", printer.port(), 3, patient());
        std::string text = "true (0) startjob pop /fd (fonts/KorrinDiskFont) (w) file def\n/buff 128 string def\n"
                           "{ currentfile buff readstring\n{ fd exch writestring}\n{dup length 0 gt {fd exch "
                           "writestring} {pop} ifelse\nfd closefile exit\n} ifelse\n} bind loop\n"
                           "%!PS-AdobeFont-1.0: KorrinDiskFont\n/FontType 1 def\n";
        p.write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
        p.reopen();
    }
    std::string font = dir_.file("p") + "/disk/fonts/KorrinDiskFont";
    for (int i = 0; i < 100 && !std::filesystem::exists(font); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(test::readFile(font), "%!PS-AdobeFont-1.0: KorrinDiskFont\n/FontType 1 def\n");

    // The queries a property job makes about disks and their fonts.
    std::string reply = job(printer, true,
                            "/n 0 def /size 0 def /free 0 def\n"
                            "{ dup (%disk) anchorsearch { pop pop currentdevparams dup /Writeable get {\n"
                            "  /n n 1 add def dup /LogicalSize get size add /size exch def /Free get free add /free exch def\n"
                            "} { pop } ifelse } { pop pop } ifelse } 256 string devforall\n"
                            "n == size == free 0 gt == (%*%fonts/*) { = } 128 string filenameforall\n"
                            "(%disk0%fonts/KorrinDiskFont) (r) file 100 string readline pop = flush\n");
    EXPECT_EQ(reply, "1\n8192\ntrue\n%disk0%fonts/KorrinDiskFont\n%!PS-AdobeFont-1.0: KorrinDiskFont\n");

    // Resources written under Resource/ are found by name.
    job(printer, true,
        "(Resource/CMap/KorrinTest-H) (w) file dup (/CIDInit /ProcSet findresource begin 12 dict begin "
        "begincmap /CMapName /KorrinTest-H def /CMapType 1 def 1 begincodespacerange <00> <FF> "
        "endcodespacerange endcmap CMapName currentdict /CMap defineresource pop end end\n) writestring closefile\n");
    EXPECT_EQ(job(printer, true, "(KorrinTest*) { = } 128 string /CMap resourceforall flush\n"), "KorrinTest-H\n");

    job(printer, true, "{(fonts/KorrinDiskFont) deletefile} stopped pop {(%disk0%Resource/CMap/KorrinTest-H) deletefile} stopped pop\n");
    EXPECT_FALSE(std::filesystem::exists(font));
    EXPECT_FALSE(std::filesystem::exists(dir_.file("p") + "/disk/Resource/CMap/KorrinTest-H"));

    // Initialising the disk takes what jobs stored and keeps the printer's
    // own resources.
    job(printer, true, "(fonts/A) (w) file closefile (Resource/CIDFont/B) (w) file closefile\n");
    EXPECT_EQ(job(printer, true, "true (0) startjob pop statusdict begin 0 1 initializedisk end "
                                 "(fonts/*) { = } 128 string filenameforall (Resource/CIDFont/B) status == "
                                 "/UniJIS-UCS2-H /CMap resourcestatus == flush\n"),
              "false\ntrue\n");
}

TEST_F(VirtualPrinterTest, PagesAreFiles)
{
    VirtualPrinter printer(program, dir_.file("p"), true, "--pages png");
    job(printer, true, "/Helvetica findfont 24 scalefont setfont 72 72 moveto (page one) show showpage\n");
    EXPECT_TRUE(std::filesystem::exists(dir_.file("p") + "/pages/page-00001.png"));
    printer.stop();
    EXPECT_NE(printer.log().find("1 page,"), std::string::npos) << printer.log();
}

TEST_F(VirtualPrinterTest, AnInterpreterThatQuitsIsRestarted)
{
    VirtualPrinter printer(program, dir_.file("p"), true);
    // A printer reset: leave the encapsulation and quit the interpreter.
    {
        TCPIPPrinter p(true, "127.0.0.1", printer.port(), 3, patient());
        std::string reset = "true (0) startjob pop systemdict /quit get exec\n";
        p.write(reinterpret_cast<const unsigned char*>(reset.data()), static_cast<unsigned>(reset.size()));
        p.writeeof();
        while (p.read() != -1) {
        }
    }
    EXPECT_EQ(job(printer, true, "(back) print\n"), "back");
    EXPECT_EQ(printer.stop(), 0);
    EXPECT_NE(printer.log().find("restarting"), std::string::npos) << printer.log();
}

TEST_F(VirtualPrinterTest, WritingOverABuiltInResourceLeavesGhostscriptsCopyAlone)
{
    // A stand-in for Ghostscript's Resource folder: links to the real
    // categories, and a CMap folder holding one file of our own.
    namespace fs = std::filesystem;
    fs::path real;
    for (const auto& version : fs::directory_iterator("/usr/share/ghostscript"))
        if (fs::is_directory(version.path() / "Resource" / "Init"))
            real = version.path() / "Resource";
    ASSERT_FALSE(real.empty());
    fs::path fake = dir_.file("gsres");
    fs::create_directories(fake / "CMap");
    for (const auto& category : fs::directory_iterator(real))
        if (category.path().filename() != "CMap")
            fs::create_directory_symlink(category.path(), fake / category.path().filename());
    dir_.write("gsres/CMap/KorrinBuiltin-H", "built in\n");

    VirtualPrinter printer(program, dir_.file("p"), true, "--gs-resources " + fake.string());
    EXPECT_TRUE(fs::is_symlink(dir_.file("p") + "/disk/Resource/CMap/KorrinBuiltin-H"));
    EXPECT_EQ(job(printer, true, "(Resource/CMap/KorrinBuiltin-H) (r) file 100 string readline pop print\n"), "built in");
    job(printer, true, "(%disk0%Resource/CMap/KorrinBuiltin-H) (w) file dup (downloaded\\n) writestring closefile\n");
    EXPECT_EQ(test::readFile(dir_.file("gsres/CMap/KorrinBuiltin-H")), "built in\n");
    EXPECT_EQ(test::readFile(dir_.file("p") + "/disk/Resource/CMap/KorrinBuiltin-H"), "downloaded\n");
}
