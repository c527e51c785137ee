// Commands over the stream layer: talk to a printer (send a job and print its
// reply, probe its control-D handling) and run the encoding filters a
// download job uses (PFB to ASCII, ASCII85).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "core/file.h"
#include "stream/converters.h"
#include "stream/filereader.h"
#include "stream/tcpipprinter.h"

namespace {

using namespace korrin;

std::string describe(const BasicDataStream::error& e)
{
    return std::string(e.message.c_str()) + " (code " + std::to_string(e.code) + ")";
}

// Copies a filter's output to standard output in blocks.
void copyToStdout(RODataStream& source)
{
    std::vector<unsigned char> block(1 << 16);
    std::size_t used = 0;
    for (int c; (c = source.read()) != -1;) {
        block[used++] = static_cast<unsigned char>(c);
        if (used == block.size()) {
            std::fwrite(block.data(), 1, used, stdout);
            used = 0;
        }
    }
    std::fwrite(block.data(), 1, used, stdout);
    std::fflush(stdout);
}

struct PrinterAddress {
    std::string host;
    int port = 9100;
};

// "host" or "host:port"; the option --port gives the port otherwise.
PrinterAddress parseAddress(const std::string& text, int port)
{
    PrinterAddress a{text, port};
    auto colon = text.rfind(':');
    if (colon != std::string::npos) {
        a.host = text.substr(0, colon);
        a.port = std::stoi(text.substr(colon + 1));
    }
    return a;
}

// HOST or HOST:PORT, with a port from 1 to 65535 in decimal digits.
std::string checkAddress(const std::string& text)
{
    const auto colon = text.rfind(':');
    if (colon == 0)
        return "no host name before the port in '" + text + "'";
    if (colon == std::string::npos)
        return {};
    const std::string port = text.substr(colon + 1);
    const bool digits = !port.empty() && port.size() <= 5 &&
                        port.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535)
        return "the port in '" + text + "' is not a number from 1 to 65535";
    return {};
}

struct ConnectionOptions {
    std::string printer;
    int port = 9100;
    int attempts = 5;
    bool ctrlD = false;
    bool passThrough = false;
    double timeout = 60;
};

void addConnectionOptions(CLI::App& sub, ConnectionOptions& o)
{
    sub.add_option("PRINTER", o.printer, "Printer host name or address, optionally with :PORT")
        ->required()
        ->check(CLI::Validator(checkAddress, "HOST[:PORT]"));
    sub.add_option("--port", o.port, "Port of the printer's raw PostScript service")->check(CLI::Range(1, 65535));
    sub.add_option("--attempts", o.attempts, "Connection attempts")->check(CLI::PositiveNumber);
    sub.add_option("--timeout", o.timeout, "Seconds to wait for the printer at any step")->check(CLI::PositiveNumber);
}

PrinterTimeouts timeoutsFrom(const ConnectionOptions& o)
{
    int ms = static_cast<int>(o.timeout * 1000);
    PrinterTimeouts t;
    t.connect = t.probe = t.reply = t.write = ms;
    return t;
}

std::unique_ptr<TCPIPPrinter> connectTo(const ConnectionOptions& o)
{
    PrinterAddress a = parseAddress(o.printer, o.port);
    if (o.ctrlD || o.passThrough)
        return std::make_unique<TCPIPPrinter>(o.ctrlD, a.host.c_str(), a.port, o.attempts, timeoutsFrom(o));
    return std::make_unique<TCPIPPrinter>(a.host.c_str(), a.port, o.attempts, timeoutsFrom(o));
}

cli::Command sendCommand("send", "Send PostScript to a printer and print its reply", [](CLI::App& sub) {
    struct Options : ConnectionOptions {
        std::vector<std::string> files;
        std::vector<std::string> texts;
        bool noReply = false;
    };
    auto o = std::make_shared<Options>();
    addConnectionOptions(sub, *o);
    sub.add_option("FILE", o->files, "PostScript files to send, in order; - is standard input");
    sub.add_option("-e,--execute", o->texts, "PostScript text to send after the files (repeatable)");
    auto* ctrlD = sub.add_flag("--ctrl-d", o->ctrlD, "The printer ends jobs with control-D (no probe)");
    sub.add_flag("--no-ctrl-d", o->passThrough, "The printer passes control-D to its interpreter (no probe)")->excludes(ctrlD);
    sub.add_flag("--no-reply", o->noReply, "Send the job and its end, read nothing back");
    sub.footer("Without --ctrl-d or --no-ctrl-d the printer is probed first. The job header, the "
               "end-of-job text and, in pass-through mode, the error handler that ends a failed "
               "job's reply are added as every korrin job adds them; the reply is printed as it "
               "comes, up to the end of the job.");
    return [o] {
        if (o->files.empty() && o->texts.empty())
            return cli::fail("send: nothing to send; give FILE or -e TEXT");
        try {
            auto printer = connectTo(*o);
            std::vector<unsigned char> block(1 << 16);
            int last = '\n';
            auto send = [&](const unsigned char* data, std::size_t n) {
                if (n == 0)
                    return;
                printer->write(data, static_cast<unsigned>(n));
                last = data[n - 1];
            };
            for (const auto& name : o->files) {
                if (name == "-") {
                    for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), stdin)) > 0;)
                        send(block.data(), got);
                    continue;
                }
                file f(filename(name.c_str()), file::readOnly);
                for (long got; (got = f.blockread(block.data(), static_cast<long>(block.size()))) > 0;)
                    send(block.data(), static_cast<std::size_t>(got));
            }
            for (const auto& text : o->texts) {
                send(reinterpret_cast<const unsigned char*>(text.data()), text.size());
                send(reinterpret_cast<const unsigned char*>("\n"), 1);
            }
            // The end-of-job text must not run into the job's last token.
            if (last != '\n' && last != '\r' && last != ' ' && last != '\t')
                send(reinterpret_cast<const unsigned char*>("\n"), 1);
            printer->writeeof();
            if (!o->noReply) {
                for (int c; (c = printer->read()) != -1;)
                    std::putchar(c);
                std::fflush(stdout);
            }
        } catch (const BasicDataStream::error& e) {
            return cli::fail("send: " + describe(e));
        } catch (const file::fileerror& e) {
            return cli::fail(std::string("send: ") + e.message.c_str());
        }
        return cli::exitOk;
    };
});

cli::Command probeCommand("probe", "Tell whether a printer ends jobs with control-D", [](CLI::App& sub) {
    auto o = std::make_shared<ConnectionOptions>();
    addConnectionOptions(sub, *o);
    sub.footer("Prints \"control-D\" or \"pass-through\".");
    return [o] {
        try {
            PrinterAddress a = parseAddress(o->printer, o->port);
            TCPIPPrinter printer(a.host.c_str(), a.port, o->attempts, timeoutsFrom(*o));
            std::puts(printer.CtrlDSupported() ? "control-D" : "pass-through");
        } catch (const BasicDataStream::error& e) {
            return cli::fail("probe: " + describe(e));
        }
        return cli::exitOk;
    };
});

// A filter over a file, its output on standard output.
template <typename Filter>
cli::Setup filterCommand(const char* what)
{
    return [what](CLI::App& sub) {
        auto name = std::make_shared<std::string>();
        sub.add_option("FILE", *name, what)->required();
        return [name] {
            try {
                FileReader source(file(filename(name->c_str()), file::readOnly));
                Filter filter(&source);
                copyToStdout(filter);
            } catch (const BasicDataStream::error& e) {
                return cli::fail(*name + ": " + describe(e));
            } catch (const file::fileerror& e) {
                return cli::fail(*name + ": " + e.message.c_str());
            }
            return cli::exitOk;
        };
    };
}

cli::Command pfb2asciiCommand("pfb2ascii", "Write a PFB (binary Type 1) font in ASCII form, as korrin sends it",
                              filterCommand<BinaryToAscii>("The PFB font"));
cli::Command ascii85Command("ascii85", "Write a file as ASCII85 text, as korrin sends resources",
                            filterCommand<Ascii85Encoder>("The file to encode"));

} // namespace
