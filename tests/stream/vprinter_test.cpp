// The virtual printer, driven as the library drives a printer: through
// TCPIPPrinter. Probe and replies in both control-D modes, errors, fonts that
// outlive their job, interpreter restarts, the emulated disk, pages, SIGTERM.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <thread>

#include "stream/tcpipprinter.h"
#include "support/tempdir.h"
#include "support/virtualprinter.h"

using namespace korrin;
using korrin::test::VirtualPrinter;
namespace fs = std::filesystem;

namespace {

#ifdef KORRIN_VPRINTER
const char* const program = KORRIN_VPRINTER;
#else
const char* const program = KORRIN_BINARY_DIR "/korrin-vprinter";
#endif
constexpr auto npos = std::string::npos;

PrinterTimeouts patient()
{
    PrinterTimeouts t;
    t.connect = 5000;
    t.probe = t.reply = t.write = 20000;
    return t;
}

void send(TCPIPPrinter& p, const std::string& text)
{
    p.write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
}

class VirtualPrinterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists("/usr/bin/gs"))
            GTEST_SKIP() << "ghostscript missing";
    }

    // The probe's answer, with the cache emptied first. The printer serves
    // one connection at a time: this one ends before the next job starts.
    static bool probe(const VirtualPrinter& printer)
    {
        {
            std::lock_guard<std::mutex> lock(TCPIPPrinter::CtrlDMutex);
            TCPIPPrinter::NameCached = "";
        }
        return TCPIPPrinter("127.0.0.1", printer.port(), 3, patient()).CtrlDSupported();
    }

    // Runs one job on a fresh connection and returns its reply.
    static std::string job(const VirtualPrinter& printer, bool ctrlD, const std::string& text)
    {
        TCPIPPrinter p(ctrlD, "127.0.0.1", printer.port(), 3, patient());
        send(p, text);
        p.writeeof();
        std::string reply;
        for (int c; (c = p.read()) != -1;)
            reply.push_back(static_cast<char>(c));
        return reply;
    }

    std::string disk(const std::string& name) const { return dir_.file("p/disk/" + name); }

    test::TempDir dir_;
};

} // namespace

TEST_F(VirtualPrinterTest, PassThroughProbeAFailedJobThenAGoodOne)
{
    VirtualPrinter printer(program, dir_.file("p"), false);
    EXPECT_FALSE(probe(printer));
    std::string reply = job(printer, false, "(before) print nosuchoperator (after) print\n");
    EXPECT_NE(reply.find("before%%[ Error: undefined; OffendingCommand: nosuchoperator ]%%"), npos) << reply;
    EXPECT_EQ(reply.find("after"), npos) << reply;
    // The handler the connection installs ends a failed job's reply too.
    EXPECT_NE(reply.find("<-eof->"), npos) << reply;
    EXPECT_EQ(job(printer, false, "1 2 add == flush\n"), "3\n<-eof->");
    EXPECT_EQ(printer.stop(), 0);
    EXPECT_NE(printer.log().find("error: undefined"), npos) << printer.log();
}

TEST_F(VirtualPrinterTest, ControlDProbeFontsThatLeftTheEncapsulationAndARestart)
{
    VirtualPrinter printer(program, dir_.file("p"), true);
    EXPECT_TRUE(probe(printer));
    job(printer, true, "/KorrinLocal 1 def /Helvetica findfont /KorrinLocalFont exch definefont pop\n");
    job(printer, true,
        "true (0) startjob pop /Helvetica findfont dup length dict copy dup /FontName /KorrinTestFont put "
        "/KorrinTestFont exch definefont pop\n");
    EXPECT_EQ(job(printer, true,
                  "userdict /KorrinLocal known == FontDirectory /KorrinLocalFont known == "
                  "/KorrinTestFont findfont /FontName get == flush\n"),
              "false\nfalse\n/KorrinTestFont\n");
    // A printer reset, leaving the encapsulation and quitting the interpreter.
    job(printer, true, "true (0) startjob pop systemdict /quit get exec\n");
    EXPECT_EQ(job(printer, true, "(back) print\n"), "back");
    EXPECT_EQ(printer.stop(), 0);
    EXPECT_NE(printer.log().find("restarting"), npos) << printer.log();
}

TEST_F(VirtualPrinterTest, TheDiskHoldsFilesJobsWriteAndDeleteAndPagesAreFiles)
{
    VirtualPrinter printer(program, dir_.file("p"), true, "--disk-size 8 --pages png");
    // A font stored the way a disk download stores it: a copy loop that
    // takes the rest of the job, ended by the end of the connection.
    {
        TCPIPPrinter p(true, "127.0.0.1", printer.port(), 3, patient());
        send(p, "true (0) startjob pop /fd (fonts/KorrinDiskFont) (w) file def\n/buff 128 string def\n"
                "{ currentfile buff readstring\n{ fd exch writestring}\n{dup length 0 gt {fd exch "
                "writestring} {pop} ifelse\nfd closefile exit\n} ifelse\n} bind loop\n"
                "%!PS-AdobeFont-1.0: KorrinDiskFont\n/FontType 1 def\n");
        p.reopen();
    }
    const std::string font = disk("fonts/KorrinDiskFont");
    for (int i = 0; i < 100 && !fs::exists(font); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(test::readFile(font), "%!PS-AdobeFont-1.0: KorrinDiskFont\n/FontType 1 def\n");

    // The queries a property job makes about disks and their fonts.
    EXPECT_EQ(job(printer, true,
                  "/n 0 def /size 0 def /free 0 def\n"
                  "{ dup (%disk) anchorsearch { pop pop currentdevparams dup /Writeable get {\n"
                  "  /n n 1 add def dup /LogicalSize get size add /size exch def /Free get free add /free exch def\n"
                  "} { pop } ifelse } { pop pop } ifelse } 256 string devforall\n"
                  "n == size == free 0 gt == (%*%fonts/*) { = } 128 string filenameforall\n"
                  "(%disk0%fonts/KorrinDiskFont) (r) file 100 string readline pop = flush\n"),
              "1\n8192\ntrue\n%disk0%fonts/KorrinDiskFont\n%!PS-AdobeFont-1.0: KorrinDiskFont\n");

    // Resources written under Resource/ are found by name.
    job(printer, true,
        "(Resource/CMap/KorrinTest-H) (w) file dup (/CIDInit /ProcSet findresource begin 12 dict begin "
        "begincmap /CMapName /KorrinTest-H def /CMapType 1 def 1 begincodespacerange <00> <FF> "
        "endcodespacerange endcmap CMapName currentdict /CMap defineresource pop end end\n) writestring closefile\n");
    EXPECT_EQ(job(printer, true, "(KorrinTest*) { = } 128 string /CMap resourceforall flush\n"), "KorrinTest-H\n");

    job(printer, true,
        "{(fonts/KorrinDiskFont) deletefile} stopped pop {(%disk0%Resource/CMap/KorrinTest-H) deletefile} stopped pop\n");
    EXPECT_FALSE(fs::exists(font));
    EXPECT_FALSE(fs::exists(disk("Resource/CMap/KorrinTest-H")));

    // Initialising the disk takes what jobs stored and keeps the printer's
    // own resources.
    job(printer, true, "(fonts/A) (w) file closefile (Resource/CIDFont/B) (w) file closefile\n");
    EXPECT_EQ(job(printer, true, "true (0) startjob pop statusdict begin 0 1 initializedisk end "
                                 "(fonts/*) { = } 128 string filenameforall (Resource/CIDFont/B) status == "
                                 "/UniJIS-UCS2-H /CMap resourcestatus == flush\n"),
              "false\ntrue\n");

    job(printer, true, "/Helvetica findfont 24 scalefont setfont 72 72 moveto (page one) show showpage\n");
    EXPECT_TRUE(fs::exists(dir_.file("p/pages/page-00001.png")));
    printer.stop();
    EXPECT_NE(printer.log().find("1 page,"), npos) << printer.log();
}

TEST_F(VirtualPrinterTest, WritingOverABuiltInResourceLeavesGhostscriptsCopyAlone)
{
    // A stand-in for Ghostscript's Resource folder: links to the real
    // categories, and a CMap folder holding one file of our own.
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
    EXPECT_TRUE(fs::is_symlink(disk("Resource/CMap/KorrinBuiltin-H")));
    EXPECT_EQ(job(printer, true, "(Resource/CMap/KorrinBuiltin-H) (r) file 100 string readline pop print\n"), "built in");
    job(printer, true, "(%disk0%Resource/CMap/KorrinBuiltin-H) (w) file dup (downloaded\\n) writestring closefile\n");
    EXPECT_EQ(test::readFile(dir_.file("gsres/CMap/KorrinBuiltin-H")), "built in\n");
    EXPECT_EQ(test::readFile(disk("Resource/CMap/KorrinBuiltin-H")), "downloaded\n");
}
